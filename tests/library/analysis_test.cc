// Which files become songs, and with what values.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "client-core/NorvoMediaFileAnalyzer.h"
#include "tests/library/library_fixture.h"

namespace {

using namespace library_test;
using NorvoWinUtilities::AnalyzeFile;

constexpr size_t kLimit = 20971520;

struct AnalysisCase {
  const char* label;
  const char* name;
  std::function<void(const std::string& path)> make;
  enum Outcome { kNone, kRejected, kSong } outcome;
  int duration;  // -1: whatever FFmpeg estimates
};

TEST(AnalysisTest, AcceptsAndRejectsFilesByNameSizeAudioAndDuration) {
  const AnalysisCase cases[] = {
      {"4.9 s is 4 whole seconds, under the minimum", "short.mp3",
       [](const std::string& p) { CopySine("4.9", p); }, AnalysisCase::kRejected, 4},
      {"5.0 s is exactly the minimum", "five.mp3", [](const std::string& p) { CopySine("5.0", p); },
       AnalysisCase::kSong, 5},
      {"exactly the size limit", "limit.mp3",
       [](const std::string& p) {
         CopySine("5.0", p);
         PadTo(p, kLimit);
       },
       AnalysisCase::kSong, -1},
      {"one byte over the size limit", "over.mp3",
       [](const std::string& p) {
         CopySine("5.0", p);
         PadTo(p, kLimit + 1);
       },
       AnalysisCase::kNone, 0},
      {"upper-case extension", "SONG.MP3", [](const std::string& p) { CopySine("5.0", p); },
       AnalysisCase::kRejected, 0},
      {"text named .mp3", "notes.mp3",
       [](const std::string& p) { WriteFile(p, "these are not the songs you are looking for\n"); },
       AnalysisCase::kRejected, 0},
      {"empty file named .mp3", "empty.mp3", [](const std::string& p) { WriteFile(p, ""); },
       AnalysisCase::kRejected, 0},
      {"hidden song", ".hidden.mp3", [](const std::string& p) { CopySine("5.0", p); },
       AnalysisCase::kSong, 5},
      {"FIFO named .mp3 (opening it would block)", "pipe.mp3",
       [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, AnalysisCase::kRejected,
       0},
      {"symlink to a song", "link.mp3",
       [](const std::string& p) {
         CopySine("5.0", p + ".target");
         ASSERT_EQ(symlink((p + ".target").c_str(), p.c_str()), 0);
       },
       AnalysisCase::kSong, 5},
      {"no extension at all", "mp3", [](const std::string& p) { CopySine("5.0", p); },
       AnalysisCase::kRejected, 0},
  };
  const NorvoGlobalSetting settings = MakeSettings();
  for (const AnalysisCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    c.make(dir.path() + "/" + c.name);
    auto item = AnalyzeFile(dir.path(), c.name, c.name, &settings);
    if (c.outcome == AnalysisCase::kNone) {
      EXPECT_EQ(item, nullptr);
      continue;
    }
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->IsValid(), c.outcome == AnalysisCase::kSong);
    EXPECT_EQ(item->Name(), c.name);
    if (c.outcome != AnalysisCase::kSong) continue;
    const std::string full = dir.path() + "/" + c.name;
    if (c.duration >= 0) {
      EXPECT_EQ(item->Duration(), c.duration);
    }
    EXPECT_EQ(item->BitRate(), 128000);
    EXPECT_EQ(item->SampleRate(), 44100);
    EXPECT_EQ(item->NChannels(), 1);
    EXPECT_EQ(item->Uri(), Md5(full));
    EXPECT_EQ(item->Path(), B64(full));
    EXPECT_FALSE(item->IsFolder());
  }
}

TEST(AnalysisTest, LimitsComeFromTheSettings) {
  TempDir dir;
  CopySine("5.0", dir.path() + "/a.mp3");
  NorvoGlobalSetting settings = MakeSettings();
  settings.iMediaStreamFileMinDuration = 6;
  auto item = AnalyzeFile(dir.path(), "a.mp3", "a.mp3", &settings);
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->IsValid());
  settings.iMediaStreamFileMinDuration = 5;
  settings.iMediaStreamFileMaxSizeBytes = 1000;
  EXPECT_EQ(AnalyzeFile(dir.path(), "a.mp3", "a.mp3", &settings), nullptr);
}

TEST(AnalysisTest, TagsAreReadAsWrittenAndAbsentTagsStayEmpty) {
  struct Case {
    const char* label;
    bool id3;
    bool tag;
    std::string title, artist, album;
  } cases[] = {
      {"no tag at all", false, false, "", "", ""},
      {"ffmpeg's tag without texts", true, false, "", "", ""},
      {"ASCII with quotes", true, true, "It's \"Quoted\"", "O'Brien", "Say 'hi'"},
      {"non-ASCII", true, true, "Ça ira – déjà vu", "Сергей Прокофьев", "東京 ♪"},
  };
  const NorvoGlobalSetting settings = MakeSettings();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    const std::string path = dir.path() + "/t.mp3";
    CopySine("5.0", path, c.id3);
    if (c.tag) WriteTags(path, c.title, c.artist, c.album);
    auto item = AnalyzeFile(dir.path(), "t.mp3", "t.mp3", &settings);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->IsValid());
    EXPECT_EQ(item->Title().to8Bit(true), c.title);
    EXPECT_EQ(item->Artist().to8Bit(true), c.artist);
    EXPECT_EQ(item->Album().to8Bit(true), c.album);
  }
}

TEST(AnalysisTest, CountLooksAtOneLevelAndOnlyAtExactMp3Names) {
  TempDir dir;
  CopySine("5.0", dir.path() + "/a.mp3");
  WriteFile(dir.path() + "/b.txt", "x");
  WriteFile(dir.path() + "/SONG.MP3", "x");
  WriteFile(dir.path() + "/broken.mp3", "not audio");  // counted: the count opens no file
  CopySine("5.0", dir.Sub("sub/deeper/c.mp3"));
  int folders = -1;
  int songs = -1;
  NorvoWinUtilities::CountSongsInFolder(dir.path(), &folders, &songs);
  EXPECT_EQ(folders, 1);
  EXPECT_EQ(songs, 2);
  NorvoWinUtilities::CountSongsInFolder(dir.path() + "/missing", &folders, &songs);
  EXPECT_EQ(folders, 0);
  EXPECT_EQ(songs, 0);
}

TEST(AnalysisTest, HiddenMeansADotAtTheStartOfTheName) {
  EXPECT_TRUE(NorvoWinUtilities::IsFileHidden("/music/.cover.jpg"));
  EXPECT_TRUE(NorvoWinUtilities::IsFileHidden(".x"));
  EXPECT_FALSE(NorvoWinUtilities::IsFileHidden("/music/.hidden/cover.jpg"));
  EXPECT_FALSE(NorvoWinUtilities::IsFileHidden("/music/"));
}

}  // namespace
