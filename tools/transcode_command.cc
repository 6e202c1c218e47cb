// `norvo transcode` writes a song's stream exactly as a device receives it; `norvo frames` reads
// such a stream and says whether it is well formed.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "streaming/NorvoMediaStream.h"
#include "tools/commands.h"

namespace norvo_tool {

namespace {

constexpr size_t kDefaultBuffer = 65536;
// The end marker must fit, and a buffer above this is surely a typo.
constexpr size_t kMinBuffer = talk_base::NorvoMediaStream::kEndMarkerSize;
constexpr size_t kMaxBuffer = size_t{64} << 20;

void TranscodeUsage() {
  std::fputs(
      "usage: norvo transcode [--start SECONDS] [--buffer BYTES] FILE\n"
      "  Writes the song's stream to standard output as a device receives it: AAC frames\n"
      "  (MP3/MP2 transcoded, other audio passed through) in the hub's framing, read in\n"
      "  buffers of BYTES (default 65536, at least 10).\n",
      stderr);
}

// A whole non-negative decimal number no larger than `max`.
bool ParseNumber(const char* text, long long max, long long* value) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < 0 || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

int RunTranscode(int argc, char** argv) {
  long long start = 0;
  long long buffer_size = kDefaultBuffer;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--start" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], talk_base::NorvoMediaStream::kMaxStartPosition, &start)) {
        std::fprintf(stderr, "norvo transcode: bad start position \"%s\"\n", argv[i]);
        return 2;
      }
    } else if (arg == "--buffer" && i + 1 < argc) {
      if (!ParseNumber(argv[++i], static_cast<long long>(kMaxBuffer), &buffer_size) ||
          buffer_size < static_cast<long long>(kMinBuffer)) {
        std::fprintf(stderr, "norvo transcode: buffer size must be %zu to %zu bytes\n", kMinBuffer,
                     kMaxBuffer);
        return 2;
      }
    } else if (arg == "-h" || arg == "--help") {
      TranscodeUsage();
      return 0;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "norvo transcode: unknown option \"%s\"\n", arg.c_str());
      TranscodeUsage();
      return 2;
    } else if (!file) {
      file = argv[i];
    } else {
      TranscodeUsage();
      return 2;
    }
  }
  if (!file) {
    TranscodeUsage();
    return 2;
  }

  // The values a session passes when the library knows nothing better; the file's own win.
  talk_base::NorvoMediaStream stream(file, 44100, 128, 2, 0);
  if (!stream.Open(file, "rb", static_cast<int>(start))) {
    std::fprintf(stderr, "norvo transcode: cannot stream \"%s\"\n", file);
    return 1;
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(buffer_size));
  for (;;) {
    size_t got = 0;
    int error = 0;
    const talk_base::StreamResult r = stream.Read(buffer.data(), buffer.size(), &got, &error);
    if (r == talk_base::SR_EOS) break;
    if (r != talk_base::SR_SUCCESS) {
      std::fprintf(stderr, "norvo transcode: reading \"%s\" failed (%d)\n", file, error);
      return 1;
    }
    if (got > 0 && std::fwrite(buffer.data(), 1, got, stdout) != got) {
      std::fprintf(stderr, "norvo transcode: writing failed: %s\n", std::strerror(errno));
      return 1;
    }
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "norvo transcode: writing failed: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

int RunFrames(int argc, char** argv) {
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-q" || arg == "--quiet") {
      quiet = true;
    } else {
      std::fputs(
          "usage: norvo frames [--quiet] < STREAM\n"
          "  Checks a song stream read on standard input: one line per frame (unless --quiet)\n"
          "  and a summary; exit status 1 when the stream is malformed.\n",
          stderr);
      return arg == "-h" || arg == "--help" ? 0 : 2;
    }
  }
  talk_base::NorvoFrameParser parser([quiet](const talk_base::NorvoStreamFrame& f) {
    if (!quiet) {
      std::printf("frame type=1 length=%" PRIu32 " stamp=%" PRId32 "\n", f.length, f.time_stamp);
    }
  });
  std::vector<uint8_t> buffer(65536);
  for (;;) {
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), stdin);
    if (got > 0) parser.Feed(buffer.data(), got);
    if (got < buffer.size()) break;
  }
  const bool read_error = std::ferror(stdin) != 0;
  const bool ok = parser.Finish() && !read_error;
  std::printf("frames: %" PRIu64 "\n", parser.frames());
  if (parser.frames() > 0) {
    std::printf("first stamp: %" PRId32 "\nlast stamp: %" PRId32 "\n", parser.first_time_stamp(),
                parser.last_time_stamp());
  }
  std::printf("end marker last: %s\n",
              parser.end_marker_seen() && parser.bytes_after_marker() == 0 ? "yes" : "no");
  std::printf("bytes after marker: %zu\n", parser.bytes_after_marker());
  std::printf("bytes: %" PRIu64 "\n", parser.offset());
  if (read_error) {
    std::printf("malformed: reading standard input failed\n");
  } else if (!ok) {
    std::printf("malformed: %s\n", parser.error().c_str());
  } else {
    std::printf("well formed\n");
  }
  std::fflush(stdout);
  return ok ? 0 : 1;
}

}  // namespace norvo_tool
