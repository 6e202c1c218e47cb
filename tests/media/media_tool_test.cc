// `norvo transcode` and `norvo frames` as support and device developers use them: the real
// executable, run through the shell on generated songs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/media/media_fixtures.h"

namespace {

using media_test::Fixture;

struct Result {
  int status = -1;
  std::string out;
};

Result Shell(const std::string& command) {
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return r;
  char chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0) r.out.append(chunk, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

const std::string kTool = NORVO_TOOL;

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// The tool writes exactly what a device receives, whatever the buffer size, and `frames`
// accepts it.
TEST(TranscodeToolTest, WritesTheDeviceStreamAndFramesAcceptsIt) {
  const std::string song = Fixture("s44.mp3");
  ASSERT_FALSE(song.empty());
  const std::vector<uint8_t> expected = media_test::StreamFile(song);
  const size_t frames = media_test::Parse(expected).frames.size();
  ASSERT_GT(frames, 100u);

  for (const char* buffer : {"", " --buffer 100", " --buffer 10"}) {
    SCOPED_TRACE(buffer);
    const Result bytes = Shell(kTool + " transcode" + buffer + " " + Quote(song));
    ASSERT_EQ(bytes.status, 0);
    EXPECT_EQ(std::vector<uint8_t>(bytes.out.begin(), bytes.out.end()), expected);
  }

  const Result checked = Shell(kTool + " transcode " + Quote(song) + " | " + kTool + " frames");
  ASSERT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("frame type=1 length="), std::string::npos);
  EXPECT_NE(checked.out.find("\nframes: " + std::to_string(frames) + "\n"), std::string::npos);
  EXPECT_NE(checked.out.find("first stamp: 0\n"), std::string::npos);
  EXPECT_NE(checked.out.find("last stamp: " + std::to_string((frames - 1) * 23) + "\n"),
            std::string::npos);
  EXPECT_NE(checked.out.find("end marker last: yes\n"), std::string::npos);
  EXPECT_NE(checked.out.find("bytes after marker: 0\n"), std::string::npos);
  EXPECT_NE(checked.out.find("well formed"), std::string::npos);
}

TEST(TranscodeToolTest, StartPositionShiftsTheStamps) {
  const Result checked = Shell(kTool + " transcode --start 30 " + Quote(Fixture("tone.mp3")) +
                               " | " + kTool + " frames --quiet");
  ASSERT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("first stamp: 30000\n"), std::string::npos) << checked.out;
  EXPECT_EQ(checked.out.find("frame type="), std::string::npos);
}

// Broken streams make `frames` say what is wrong and exit 1.
TEST(TranscodeToolTest, FramesRejectsMalformedStreams) {
  const std::string song = Quote(Fixture("s44.mp3"));
  const struct {
    const char* what;
    std::string command;
    const char* says;
  } cases[] = {
      {"no end marker", kTool + " transcode " + song + " | head -c 5000", "malformed: "},
      {"bytes after the marker", "{ " + kTool + " transcode " + song + "; printf xyz; }",
       "bytes after marker: 3\n"},
      {"not a stream", "printf 'hello world, no frames here'", "malformed: unknown frame type"},
      {"empty input", "true", "malformed: no end marker"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = Shell(c.command + " | " + kTool + " frames --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
  }
}

TEST(TranscodeToolTest, BadArgumentsAndFiles) {
  const std::string song = Quote(Fixture("s44.mp3"));
  const struct {
    std::string args;
    int status;
  } cases[] = {
      {"", 2},
      {"--buffer 9 " + song, 2},  // the end marker could never be delivered
      {"--buffer lots " + song, 2},
      {"--start -1 " + song, 2},
      {"--start 99999999 " + song, 2},
      {"--frobnicate " + song, 2},
      {song + " " + song, 2},
      {Quote(media_test::MissingFile()), 1},
      {Quote(Fixture("text.mp3")), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Shell(kTool + " transcode " + c.args + " 2>/dev/null");
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.out.empty());
  }
}

}  // namespace
