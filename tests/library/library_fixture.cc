#include "tests/library/library_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include "messaging/base/base64.h"
#include "messaging/base/md5.h"

namespace fs = std::filesystem;

namespace library_test {

namespace {
// FFmpeg's complaints about the files made to be rejected would only bury the test output.
class QuietFfmpeg : public ::testing::Environment {
 public:
  void SetUp() override { av_log_set_level(AV_LOG_QUIET); }
};
[[maybe_unused]] ::testing::Environment* const kQuietFfmpeg =
    ::testing::AddGlobalTestEnvironment(new QuietFfmpeg);
}  // namespace

namespace {

// The generated songs, made once per process and removed at its end.
class SineCache {
 public:
  const std::string& Get(const std::string& seconds, bool id3) {
    const std::string key = seconds + (id3 ? "-id3" : "-bare");
    auto it = files_.find(key);
    if (it != files_.end()) return it->second;
    const std::string out = dir_.path() + "/sine-" + key + ".mp3";
    std::ostringstream cmd;
    cmd << NORVO_FFMPEG << " -hide_banner -loglevel error -nostdin -f lavfi -i sine=frequency=440:"
        << "duration=" << seconds << " -c:a libmp3lame -b:a 128k"
        << (id3 ? "" : " -id3v2_version 0 -write_id3v1 0") << " -y '" << out << "'";
    EXPECT_EQ(std::system(cmd.str().c_str()), 0) << cmd.str();
    return files_.emplace(key, out).first->second;
  }

 private:
  TempDir dir_;
  std::map<std::string, std::string> files_;
};

SineCache& Cache() {
  static SineCache cache;
  return cache;
}

}  // namespace

void CopySine(const std::string& seconds, const std::string& target, bool id3) {
  fs::create_directories(fs::path(target).parent_path());
  std::error_code ec;
  fs::copy_file(Cache().Get(seconds, id3), target, fs::copy_options::overwrite_existing, ec);
  EXPECT_FALSE(ec) << target << ": " << ec.message();
}

void WriteTags(const std::string& path, const std::string& title, const std::string& artist,
               const std::string& album, const std::string& cover) {
  TagLib::MPEG::File file(path.c_str(), false);
  TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
  tag->setTitle(TagLib::String(title, TagLib::String::UTF8));
  tag->setArtist(TagLib::String(artist, TagLib::String::UTF8));
  tag->setAlbum(TagLib::String(album, TagLib::String::UTF8));
  if (!cover.empty()) {
    auto* frame = new TagLib::ID3v2::AttachedPictureFrame();  // the tag takes ownership
    frame->setMimeType("image/jpeg");
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setPicture(TagLib::ByteVector(cover.data(), static_cast<unsigned>(cover.size())));
    tag->addFrame(frame);
  }
  EXPECT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers)) << path;
}

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void PadTo(const std::string& path, size_t size) {
  const size_t now = fs::file_size(path);
  ASSERT_LE(now, size);
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << std::string(size - now, '\0');
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

NorvoGlobalSetting MakeSettings(std::initializer_list<std::string> folders) {
  NorvoGlobalSetting s;
  s.iMediaStreamFileMaxSizeBytes = NORVO_MAX_MUSIC_FILE_SIZE_MB * 1024 * 1024;
  s.iMediaStreamFileMinDuration = NORVO_MIN_MUSIC_DURATION_SEC;
  s.publicFolderList = std::make_unique<std::list<std::string>>(folders);
  return s;
}

LibraryTree BuildLibraryTree(const std::string& root) {
  LibraryTree t{root + "/A", root + "/B"};
  CopySine("5.0", t.a + "/song.mp3");
  WriteTags(t.a + "/song.mp3", "It's 'one'", "O'Brien", "Album \"1\"");
  CopySine("4.9", t.a + "/short.mp3");
  WriteFile(t.a + "/fake.mp3", "not audio at all\n");
  CopySine("5.0", t.a + "/LOUD.MP3");
  CopySine("5.0", t.a + "/.hidden.mp3", false);
  WriteFile(t.a + "/notes.txt", "notes\n");
  WriteFile(t.a + "/onlytext/readme.txt", "readme\n");
  fs::create_directories(t.a + "/onlyempty/empty");
  CopySine("5.0", t.a + "/sub/b.mp3");
  WriteTags(t.a + "/sub/b.mp3", "Ça ira", "Сергей", "東京");
  fs::create_directory_symlink("..", t.a + "/sub/up");
  CopySine("5.0", t.b + "/c.mp3");
  fs::create_directory_symlink("../B", t.a + "/toB");
  return t;
}

std::string Md5(const std::string& text) { return talk_base::MD5::Hex(text); }
std::string B64(const std::string& text) { return talk_base::Base64::Encode(text); }

}  // namespace library_test
