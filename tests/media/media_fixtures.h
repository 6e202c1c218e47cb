// Audio files for the song stream tests, made on first use with the ffmpeg command in a
// temporary folder that is removed when the test program ends, and helpers that read a song
// stream back the way a device does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "streaming/NorvoMediaStream.h"

namespace media_test {

// The path of the named fixture, made if needed; empty (and a test failure) if ffmpeg failed.
// Names: "s44.mp3" (44,100 Hz stereo, 3 s), "s48.mp3", "m22.mp3" (22,050 Hz mono),
// "s22.mp3", "s24.mp3", "m44.mp3", "s44.mp2", "s44.m4a" (AAC), "tone.mp3" (35 s, a tone that
// changes every second, see ToneFrequency), "video.mp4" (no audio), "text.mp3" (plain text),
// "empty.mp3", "truncated.mp3" (s44.mp3 cut inside a frame), "garbage.mp3" (s44.mp3 with 4 KiB
// of noise in the middle).
std::string Fixture(const std::string& name);
// The path of a file in the fixture folder that does not exist.
std::string MissingFile();

// The tone of "tone.mp3" during second `second`.
double ToneFrequency(int second);

struct Frame {
  uint32_t length = 0;
  int32_t time_stamp = 0;
  std::vector<uint8_t> payload;
};

struct ParsedStream {
  bool well_formed = false;
  std::string error;
  std::vector<Frame> frames;
  // Offset in the byte stream where each frame (and the end marker) starts, plus the total.
  std::vector<size_t> boundaries;
};
ParsedStream Parse(const std::vector<uint8_t>& bytes);

// One Read of a whole-stream run.
struct ReadCall {
  size_t asked = 0;
  size_t got = 0;
  talk_base::StreamResult result = talk_base::SR_ERROR;
};

// Reads `stream` to its end with buffers of `size` bytes. A Read that succeeds with 0 bytes is
// followed by one with a 10-byte buffer, as a reader that must make progress would do. Gives up
// (and fails the test) after an error or far too many calls.
std::vector<uint8_t> ReadAll(talk_base::NorvoMediaStream& stream, size_t size,
                             std::vector<ReadCall>* calls = nullptr);

// Opens `path` with the constructor's defaults of a session and reads it all in 64 KiB buffers.
std::vector<uint8_t> StreamFile(const std::string& path, int start = 0);

struct DecodedAudio {
  bool ok = false;
  int sample_rate = 0;
  int channels = 0;
  int64_t samples = 0;  // per channel
  int errors = 0;       // frames the decoder refused
  std::vector<float> first_channel;
};

// Decodes raw AAC frames the way a device does: an AAC-LC decoder configured from an
// AudioSpecificConfig made of the sample rate and channel count it was told.
DecodedAudio DecodeAacFrames(const std::vector<Frame>& frames, int sample_rate, int channels);
// Decodes the first audio stream of a file with FFmpeg: the reference for the source's audio.
DecodedAudio DecodeFile(const std::string& path);

// Relative strength of `frequency` in `samples` (Goertzel).
double ToneStrength(const float* samples, size_t count, int sample_rate, double frequency);

}  // namespace media_test
