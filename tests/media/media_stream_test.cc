// Song streams made from real audio files: the framing, the time stamps, what the frames decode
// to, how Read splits the stream, and what bad files do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "streaming/NorvoMediaStream.h"
#include "tests/media/media_fixtures.h"

namespace {

using media_test::Fixture;
using media_test::Parse;
using media_test::ParsedStream;
using talk_base::NorvoMediaStream;

constexpr int kAacFrameSamples = 1024;

struct FormatCase {
  const char* file;
  int sample_rate;
  int channels;
  int step_ms;  // how far each frame's time stamp advances
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.file; }

class TranscodeFormatTest : public ::testing::TestWithParam<FormatCase> {};

// Every MPEG audio flavour comes out as AAC frames at the source's rate and channels, stamped
// 0, step, 2 x step, ..., that decode back to the source's length of audio.
TEST_P(TranscodeFormatTest, FramesDecodeToTheSourceAudio) {
  const FormatCase& fc = GetParam();
  const std::string path = Fixture(fc.file);
  ASSERT_FALSE(path.empty());

  NorvoMediaStream stream(path, 44100, 128, 2, 0);
  ASSERT_TRUE(stream.Open(path, "rb", 0));
  EXPECT_TRUE(stream.transcoding());
  EXPECT_EQ(stream.sample_rate(), fc.sample_rate);
  EXPECT_EQ(stream.channels(), fc.channels);
  EXPECT_EQ(stream.frame_duration_ms(), fc.step_ms);
  const std::vector<uint8_t> bytes = media_test::ReadAll(stream, 65536);
  const ParsedStream parsed = Parse(bytes);
  ASSERT_TRUE(parsed.well_formed) << parsed.error;
  ASSERT_FALSE(parsed.frames.empty());

  size_t payload_bytes = 0;
  for (size_t i = 0; i < parsed.frames.size(); ++i) {
    ASSERT_EQ(parsed.frames[i].time_stamp, static_cast<int32_t>(i) * fc.step_ms) << "frame " << i;
    // Raw AAC frames: no ADTS sync word in front.
    ASSERT_FALSE(parsed.frames[i].length >= 2 && parsed.frames[i].payload[0] == 0xFF &&
                 (parsed.frames[i].payload[1] & 0xF0) == 0xF0)
        << "frame " << i << " carries an ADTS header";
    payload_bytes += parsed.frames[i].length;
  }
  size_t position = 0;
  EXPECT_TRUE(stream.GetPosition(&position));
  EXPECT_EQ(position, payload_bytes);
  EXPECT_EQ(stream.frame_count(), static_cast<int>(parsed.frames.size()));

  const media_test::DecodedAudio source = media_test::DecodeFile(path);
  ASSERT_TRUE(source.ok);
  const media_test::DecodedAudio aac =
      media_test::DecodeAacFrames(parsed.frames, fc.sample_rate, fc.channels);
  ASSERT_TRUE(aac.ok);
  EXPECT_EQ(aac.errors, 0);
  EXPECT_EQ(aac.sample_rate, fc.sample_rate);
  EXPECT_EQ(aac.channels, fc.channels);
  // The encoder puts one frame of priming in front and pads the last frame with silence; every
  // sample of the source is there, and no more than that.
  EXPECT_GE(aac.samples - kAacFrameSamples, source.samples);
  EXPECT_LT(aac.samples - kAacFrameSamples, source.samples + kAacFrameSamples);
  // And it is the source's tone, not noise or silence.
  ASSERT_GT(aac.first_channel.size(), 8192u);
  const float* middle = aac.first_channel.data() + aac.first_channel.size() / 2 - 2048;
  const double at_440 = media_test::ToneStrength(middle, 4096, fc.sample_rate, 440.0);
  // ffmpeg's sine source has an amplitude of 1/8, a strength of about 0.06 here.
  EXPECT_GT(at_440, 0.03);
  EXPECT_GT(at_440, 20 * media_test::ToneStrength(middle, 4096, fc.sample_rate, 660.0));
}

INSTANTIATE_TEST_SUITE_P(
    MpegAudio, TranscodeFormatTest,
    ::testing::Values(FormatCase{"s44.mp3", 44100, 2, 23}, FormatCase{"m44.mp3", 44100, 1, 23},
                      FormatCase{"s48.mp3", 48000, 2, 21}, FormatCase{"s22.mp3", 22050, 2, 46},
                      FormatCase{"m22.mp3", 22050, 1, 46},
                      // 576-sample frames in stereo: the stamps still follow the audio.
                      FormatCase{"s24.mp3", 24000, 2, 42}, FormatCase{"s44.mp2", 44100, 2, 23}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
      std::string name = info.param.file;
      std::replace(name.begin(), name.end(), '.', '_');
      return name;
    });

struct StartCase {
  int start;
  int32_t first_stamp;
  int tone_second;  // whose tone the first frames carry
  double seconds;   // of audio after the start
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << "start " << c.start; }

class StartPositionTest : public ::testing::TestWithParam<StartCase> {};

// A start position shifts both the stamps and the audio: the frames begin with that second's
// tone and hold the rest of the song.
TEST_P(StartPositionTest, StreamBeginsAtTheStartSecond) {
  const StartCase& sc = GetParam();
  const ParsedStream parsed = Parse(media_test::StreamFile(Fixture("tone.mp3"), sc.start));
  ASSERT_TRUE(parsed.well_formed) << parsed.error;
  ASSERT_FALSE(parsed.frames.empty());
  EXPECT_EQ(parsed.frames.front().time_stamp, sc.first_stamp);
  for (size_t i = 0; i < parsed.frames.size(); ++i) {
    ASSERT_EQ(parsed.frames[i].time_stamp, sc.first_stamp + static_cast<int32_t>(i) * 23);
  }

  const media_test::DecodedAudio aac = media_test::DecodeAacFrames(parsed.frames, 44100, 2);
  ASSERT_TRUE(aac.ok);
  EXPECT_NEAR(static_cast<double>(aac.samples) / 44100.0, sc.seconds, 0.1);
  // 0.1 s of sound past the encoder's priming frame, well inside the start second.
  ASSERT_GT(aac.first_channel.size(), 8192u);
  const float* window = aac.first_channel.data() + 2048;
  int loudest = -1;
  double best = 0;
  for (int second = 0; second < 35; ++second) {
    const double s =
        media_test::ToneStrength(window, 4096, 44100, media_test::ToneFrequency(second));
    if (s > best) {
      best = s;
      loudest = second;
    }
  }
  EXPECT_EQ(loudest, sc.tone_second);
}

INSTANTIATE_TEST_SUITE_P(Tone, StartPositionTest,
                         ::testing::Values(StartCase{0, 0, 0, 35.0}, StartCase{30, 30000, 30, 5.0},
                                           // Negative positions mean the beginning.
                                           StartCase{-5, 0, 0, 35.0}),
                         [](const ::testing::TestParamInfo<StartCase>& info) {
                           return info.param.start < 0 ? std::string("negative")
                                                       : "from_" + std::to_string(info.param.start);
                         });

// The session hands whatever the device asked for; out-of-range positions must not open.
TEST(StartPositionTest, PositionsPastTheTimeStampRangeAreRefused) {
  const std::string path = Fixture("s44.mp3");
  NorvoMediaStream stream(path, 44100, 128, 2, 0);
  EXPECT_FALSE(stream.Open(path, "rb", NorvoMediaStream::kMaxStartPosition + 1));
  EXPECT_EQ(stream.GetState(), talk_base::SS_CLOSED);
  // A position past the end of the song opens and ends at once, or does not open.
  if (stream.Open(path, "rb", 100)) {
    const ParsedStream parsed = Parse(media_test::ReadAll(stream, 65536));
    EXPECT_TRUE(parsed.well_formed) << parsed.error;
    EXPECT_LE(parsed.frames.size(), 2u);
  }
}

// AAC is passed through: each frame is one demuxed packet, stamped with the start time.
TEST(PassThroughTest, FramesAreTheDemuxedPackets) {
  const std::string path = Fixture("s44.m4a");
  ASSERT_FALSE(path.empty());
  std::vector<std::vector<uint8_t>> packets;
  {
    AVFormatContext* format = nullptr;
    ASSERT_EQ(avformat_open_input(&format, path.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(format, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
      packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
  }
  ASSERT_GT(packets.size(), 50u);

  for (const int start : {0, 1}) {
    NorvoMediaStream stream(path, 44100, 128, 2, 0);
    ASSERT_TRUE(stream.Open(path, "rb", start));
    EXPECT_FALSE(stream.transcoding());
    const ParsedStream parsed = Parse(media_test::ReadAll(stream, 4096));
    ASSERT_TRUE(parsed.well_formed) << parsed.error;
    for (const media_test::Frame& f : parsed.frames) {
      ASSERT_EQ(f.time_stamp, start * 1000);
    }
    if (start == 0) {
      ASSERT_EQ(parsed.frames.size(), packets.size());
      for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(parsed.frames[i].payload, packets[i]) << "packet " << i;
      }
    } else {
      // From one second in: the last packets of the file, unchanged.
      ASSERT_FALSE(parsed.frames.empty());
      ASSERT_LT(parsed.frames.size(), packets.size());
      const size_t skipped = packets.size() - parsed.frames.size();
      EXPECT_NEAR(static_cast<double>(skipped), 43.0, 3.0);
      EXPECT_EQ(parsed.frames.back().payload, packets.back());
    }
  }
}

// However the reader sizes its buffers, it gets the same bytes. Each Read packs whole frames
// until 1,024 bytes or less are left, or fills the buffer with the start of a frame that does
// not fit; the Read after such a split carries only the rest of that frame.
TEST(ReadSizeTest, EveryBufferSizeGivesTheSameStream) {
  const std::string path = Fixture("s44.mp3");
  ASSERT_FALSE(path.empty());
  const std::vector<uint8_t> reference = media_test::StreamFile(path);
  const ParsedStream parsed = Parse(reference);
  ASSERT_TRUE(parsed.well_formed) << parsed.error;
  const std::vector<size_t>& boundaries = parsed.boundaries;
  auto is_boundary = [&](size_t offset) {
    return std::binary_search(boundaries.begin(), boundaries.end(), offset);
  };

  for (const size_t size : {8, 9, 10, 100, 1025, 4096, 65536, 1048576}) {
    SCOPED_TRACE("buffer of " + std::to_string(size) + " bytes");
    NorvoMediaStream stream(path, 44100, 128, 2, 0);
    ASSERT_TRUE(stream.Open(path, "rb", 0));
    std::vector<media_test::ReadCall> calls;
    const std::vector<uint8_t> bytes = media_test::ReadAll(stream, size, &calls);
    ASSERT_EQ(bytes, reference);
    ASSERT_EQ(calls.back().result, talk_base::SR_EOS);

    size_t offset = 0;
    for (size_t i = 0; i + 1 < calls.size(); ++i) {
      const media_test::ReadCall& call = calls[i];
      const size_t end = offset + call.got;
      if (call.got == 0) {
        // Nothing fits in 8 bytes; 9 bytes take anything but the 10-byte marker.
        ASSERT_TRUE(size == 8 || (size == 9 && offset + 10 == reference.size())) << "read " << i;
      } else if (!is_boundary(offset)) {
        const size_t next = *std::upper_bound(boundaries.begin(), boundaries.end(), offset);
        ASSERT_TRUE(end == next || (call.got == call.asked && end < next)) << "read " << i;
      } else {
        ASSERT_TRUE(call.got == call.asked || call.asked - call.got <= 1024 ||
                    end == reference.size())
            << "read " << i << " stopped early at " << end;
        ASSERT_TRUE(is_boundary(end) || call.got == call.asked) << "read " << i;
      }
      offset = end;
    }
    // The marker came whole, in the last Read that delivered anything.
    auto last = std::find_if(calls.rbegin(), calls.rend(),
                             [](const media_test::ReadCall& c) { return c.got > 0; });
    ASSERT_NE(last, calls.rend());
    EXPECT_GE(last->got, NorvoMediaStream::kEndMarkerSize);
    // End-of-stream stays.
    size_t got = 7;
    uint8_t buffer[64];
    EXPECT_EQ(stream.Read(buffer, sizeof(buffer), &got, nullptr), talk_base::SR_EOS);
    EXPECT_EQ(got, 0u);
  }
}

// The end marker is delivered only when all 10 bytes fit, then end-of-stream follows.
TEST(ReadSizeTest, EndMarkerNeedsTenBytes) {
  const std::string path = Fixture("s44.mp3");
  NorvoMediaStream stream(path, 44100, 128, 2, 0);
  ASSERT_TRUE(stream.Open(path, "rb", 0));
  std::vector<uint8_t> buffer(65536);
  size_t got = 0;
  // Read everything but the marker with 9-byte buffers.
  std::vector<uint8_t> bytes;
  for (;;) {
    ASSERT_EQ(stream.Read(buffer.data(), 9, &got, nullptr), talk_base::SR_SUCCESS);
    if (got == 0) break;
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
  }
  ASSERT_EQ(stream.Read(buffer.data(), 8, &got, nullptr), talk_base::SR_SUCCESS);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(stream.Read(buffer.data(), 9, &got, nullptr), talk_base::SR_SUCCESS);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(stream.Read(buffer.data(), buffer.size(), &got, nullptr), talk_base::SR_SUCCESS);
  ASSERT_EQ(got, NorvoMediaStream::kEndMarkerSize);
  EXPECT_EQ(std::memcmp(buffer.data(), NorvoMediaStream::kEndMarker, got), 0);
  EXPECT_EQ(stream.Read(buffer.data(), buffer.size(), &got, nullptr), talk_base::SR_EOS);
  EXPECT_EQ(got, 0u);
  bytes.insert(bytes.end(), NorvoMediaStream::kEndMarker,
               NorvoMediaStream::kEndMarker + NorvoMediaStream::kEndMarkerSize);
  EXPECT_EQ(bytes, media_test::StreamFile(path));
}

// The first bytes on the wire, spelled out: a header of type 1, the length and stamp 0.
TEST(ReadSizeTest, FirstFrameHeaderOnTheWire) {
  const std::vector<uint8_t> bytes = media_test::StreamFile(Fixture("s44.mp3"));
  ASSERT_GT(bytes.size(), 9u);
  EXPECT_EQ(bytes[0], 0x01);
  const uint32_t length = (uint32_t{bytes[1]} << 24) | (uint32_t{bytes[2]} << 16) |
                          (uint32_t{bytes[3]} << 8) | bytes[4];
  EXPECT_GT(length, 0u);
  EXPECT_LE(length, 2048u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 5, bytes.begin() + 9),
            (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 10, bytes.end()),
            (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
}

struct BadFileCase {
  const char* name;  // a fixture, or "" for a file that does not exist
  bool opens;        // false: Open must fail; true: it may open, and must then end properly
};

void PrintTo(const BadFileCase& c, std::ostream* os) { *os << (*c.name ? c.name : "missing file"); }

class BadFileTest : public ::testing::TestWithParam<BadFileCase> {};

// Unusable files fail to open; damaged songs stream what can be decoded and end with the
// marker. Neither crashes, hangs or leaks (this runs under the sanitizers too).
TEST_P(BadFileTest, FailsCleanlyOrEndsWithTheMarker) {
  const BadFileCase& bc = GetParam();
  const std::string path = *bc.name ? Fixture(bc.name) : media_test::MissingFile();
  ASSERT_FALSE(path.empty());
  NorvoMediaStream stream(path, 44100, 128, 2, 0);
  const bool opened = stream.Open(path, "rb", 0);
  if (!bc.opens) {
    EXPECT_FALSE(opened);
    EXPECT_EQ(stream.GetState(), talk_base::SS_CLOSED);
    uint8_t buffer[64];
    size_t got = 1;
    EXPECT_EQ(stream.Read(buffer, sizeof(buffer), &got, nullptr), talk_base::SR_ERROR);
    EXPECT_EQ(got, 0u);
    return;
  }
  if (!opened) return;
  for (const size_t size : {100, 65536}) {
    NorvoMediaStream again(path, 44100, 128, 2, 0);
    ASSERT_TRUE(again.Open(path, "rb", 0));
    const ParsedStream parsed = Parse(media_test::ReadAll(again, size));
    EXPECT_TRUE(parsed.well_formed) << parsed.error;
    const media_test::DecodedAudio aac = media_test::DecodeAacFrames(parsed.frames, 44100, 2);
    EXPECT_TRUE(aac.ok);
    EXPECT_EQ(aac.errors, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, BadFileTest,
                         ::testing::Values(BadFileCase{"", false}, BadFileCase{"empty.mp3", false},
                                           BadFileCase{"text.mp3", false},
                                           BadFileCase{"video.mp4", false},
                                           BadFileCase{"truncated.mp3", true},
                                           BadFileCase{"garbage.mp3", true}),
                         [](const ::testing::TestParamInfo<BadFileCase>& info) {
                           std::string name = *info.param.name ? info.param.name : "missing";
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

// A damaged song still yields most of its audio.
TEST(BadFileTest, DamagedSongsKeepTheirAudio) {
  const double full = 3.0;
  for (const char* name : {"truncated.mp3", "garbage.mp3"}) {
    SCOPED_TRACE(name);
    const ParsedStream parsed = Parse(media_test::StreamFile(Fixture(name)));
    ASSERT_TRUE(parsed.well_formed) << parsed.error;
    const media_test::DecodedAudio aac = media_test::DecodeAacFrames(parsed.frames, 44100, 2);
    const double seconds = static_cast<double>(aac.samples) / 44100.0;
    if (std::string(name) == "truncated.mp3") {
      EXPECT_NEAR(seconds, full / 2, 0.2);
    } else {
      EXPECT_NEAR(seconds, full, 0.3);
    }
  }
}

// The parts of the stream interface a song stream does not support, and its life cycle.
TEST(StreamInterfaceTest, ReadOnlyUnsizedAndOpenedOnce) {
  const std::string path = Fixture("s44.mp3");
  NorvoMediaStream stream(path, 44100, 128, 2, 0);
  EXPECT_EQ(stream.GetState(), talk_base::SS_CLOSED);
  uint8_t buffer[4096];
  size_t got = 99;
  int error = 0;
  EXPECT_EQ(stream.Read(buffer, sizeof(buffer), &got, &error), talk_base::SR_ERROR);
  EXPECT_EQ(got, 0u);

  ASSERT_TRUE(stream.Open(path, "rb"));
  EXPECT_EQ(stream.GetState(), talk_base::SS_OPEN);
  EXPECT_EQ(stream.Write("x", 1, &got, &error), talk_base::SR_ERROR);
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(stream.SetPosition(0));
  EXPECT_FALSE(stream.Rewind());
  EXPECT_FALSE(stream.Flush());
  EXPECT_FALSE(stream.OpenShare(path, "rb", 0));
  EXPECT_FALSE(stream.DisableBuffering());
  size_t size = 0;
  EXPECT_TRUE(stream.GetSize(&size));
  EXPECT_EQ(size, 4294967295u);
  size = 0;
  EXPECT_TRUE(stream.GetAvailable(&size));
  EXPECT_EQ(size, 4294967295u);

  // 8 bytes: success with nothing, and the stream is where it was.
  EXPECT_EQ(stream.Read(buffer, 8, &got, &error), talk_base::SR_SUCCESS);
  EXPECT_EQ(got, 0u);
  size_t position = 1;
  EXPECT_TRUE(stream.GetPosition(&position));
  EXPECT_EQ(position, 0u);
  EXPECT_EQ(media_test::ReadAll(stream, 65536), media_test::StreamFile(path));

  stream.Close();
  stream.Close();
  EXPECT_EQ(stream.GetState(), talk_base::SS_CLOSED);
  // Opening again starts a fresh stream (the end-of-stream state goes with the old one).
  ASSERT_TRUE(stream.Open(path, "rb", 0));
  EXPECT_EQ(media_test::ReadAll(stream, 65536), media_test::StreamFile(path));

  // "hubclient" only prepares the stream; there is nothing to read.
  NorvoMediaStream client(path, 44100, 128, 2, 0);
  EXPECT_TRUE(client.Open(path, "hubclient"));
  EXPECT_EQ(client.Read(buffer, sizeof(buffer), &got, &error), talk_base::SR_ERROR);
}

// The reading side of the framing, fed whole and byte by byte.
TEST(FrameParserTest, AcceptsOnlyWellFormedStreams) {
  const std::vector<uint8_t> frame_a = {1, 0, 0, 0, 3, 0, 0, 0, 0, 0xAA, 0xBB, 0xCC};
  const std::vector<uint8_t> frame_b = {1, 0, 0, 0, 1, 0, 0, 0, 23, 0xDD};
  const std::vector<uint8_t> marker(NorvoMediaStream::kEndMarker,
                                    NorvoMediaStream::kEndMarker + 10);
  auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool ok;
    uint64_t frames;
    size_t after_marker;
  };
  const std::vector<uint8_t> whole = join({frame_a, frame_b, marker});
  const Case cases[] = {
      {"two frames and the marker", whole, true, 2, 0},
      {"only the marker", marker, true, 0, 0},
      {"empty input", {}, false, 0, 0},
      {"no marker", join({frame_a, frame_b}), false, 2, 0},
      {"cut inside a header", join({frame_a, {1, 0, 0}}), false, 1, 0},
      {"cut inside a payload", join({frame_a, {1, 0, 0, 0, 5, 0, 0, 0, 0, 1, 2}}), false, 1, 0},
      {"bytes after the marker", join({frame_a, marker, {7, 7, 7}}), false, 1, 3},
      {"unknown frame type", join({frame_a, {2, 0, 0, 0, 0, 0, 0, 0, 0}, marker}), false, 1, 0},
      {"marker of the wrong length", join({{0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0}}), false, 0, 0},
      {"marker with a non-zero byte", join({{0, 0, 0, 0, 1, 0, 0, 0, 0, 9}}), false, 0, 0},
      {"frame too long for a song stream", join({{1, 0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, marker}),
       false, 0, 0},
  };
  for (const Case& c : cases) {
    for (const bool bytewise : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (bytewise ? ", byte by byte" : ", whole"));
      std::vector<std::vector<uint8_t>> payloads;
      std::vector<int32_t> stamps;
      talk_base::NorvoFrameParser parser([&](const talk_base::NorvoStreamFrame& f) {
        payloads.emplace_back(f.payload, f.payload + f.length);
        stamps.push_back(f.time_stamp);
      });
      if (bytewise) {
        for (const uint8_t b : c.bytes) parser.Feed(&b, 1);
      } else if (!c.bytes.empty()) {
        parser.Feed(c.bytes.data(), c.bytes.size());
      }
      EXPECT_EQ(parser.Finish(), c.ok) << parser.error();
      EXPECT_EQ(parser.error().empty(), c.ok);
      EXPECT_EQ(parser.frames(), c.frames);
      EXPECT_EQ(parser.bytes_after_marker(), c.after_marker);
      if (c.ok && c.frames == 2) {
        EXPECT_EQ(payloads, (std::vector<std::vector<uint8_t>>{{0xAA, 0xBB, 0xCC}, {0xDD}}));
        EXPECT_EQ(stamps, (std::vector<int32_t>{0, 23}));
        EXPECT_EQ(parser.first_time_stamp(), 0);
        EXPECT_EQ(parser.last_time_stamp(), 23);
      }
    }
  }
}

// The parser agrees with a real stream.
TEST(FrameParserTest, ReadsARealStream) {
  const std::vector<uint8_t> bytes = media_test::StreamFile(Fixture("s48.mp3"));
  const ParsedStream reference = Parse(bytes);
  ASSERT_TRUE(reference.well_formed);
  std::vector<int32_t> stamps;
  talk_base::NorvoFrameParser parser(
      [&](const talk_base::NorvoStreamFrame& f) { stamps.push_back(f.time_stamp); });
  // Pieces of an awkward size, as a socket would deliver them.
  for (size_t pos = 0; pos < bytes.size(); pos += 777) {
    parser.Feed(bytes.data() + pos, std::min<size_t>(777, bytes.size() - pos));
  }
  EXPECT_TRUE(parser.Finish()) << parser.error();
  ASSERT_EQ(stamps.size(), reference.frames.size());
  EXPECT_EQ(stamps.back(), reference.frames.back().time_stamp);
}

}  // namespace
