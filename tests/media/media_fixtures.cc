#include "tests/media/media_fixtures.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "tests/common/temp_dir.h"

namespace media_test {

namespace {

namespace fs = std::filesystem;

// The folder lives as long as the test program.
class FixtureFolder : public ::testing::Environment {
 public:
  const std::string& path() {
    if (!dir_) dir_.emplace("media");
    return dir_->path();
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::optional<norvo_test::TempDir> dir_;
};

FixtureFolder* Folder() {
  static FixtureFolder* folder =
      static_cast<FixtureFolder*>(::testing::AddGlobalTestEnvironment(new FixtureFolder));
  return folder;
}
// Registered before the tests run so that its TearDown removes the folder.
FixtureFolder* const kFolder = Folder();

// The file recipes: an ffmpeg input and output options.
struct Recipe {
  const char* name;
  const char* input;
  const char* output;
};

const Recipe kRecipes[] = {
    {"s44.mp3", "sine=frequency=440:sample_rate=44100:duration=3",
     "-ac 2 -c:a libmp3lame -b:a 128k"},
    {"m44.mp3", "sine=frequency=440:sample_rate=44100:duration=2",
     "-ac 1 -c:a libmp3lame -b:a 64k"},
    {"s48.mp3", "sine=frequency=440:sample_rate=48000:duration=2",
     "-ac 2 -c:a libmp3lame -b:a 128k"},
    {"s22.mp3", "sine=frequency=440:sample_rate=22050:duration=2",
     "-ac 2 -c:a libmp3lame -b:a 64k"},
    {"m22.mp3", "sine=frequency=440:sample_rate=22050:duration=2",
     "-ac 1 -c:a libmp3lame -b:a 32k"},
    {"s24.mp3", "sine=frequency=440:sample_rate=24000:duration=2",
     "-ac 2 -c:a libmp3lame -b:a 64k"},
    {"s44.mp2", "sine=frequency=440:sample_rate=44100:duration=2", "-ac 2 -c:a mp2 -b:a 192k"},
    {"s44.m4a", "sine=frequency=440:sample_rate=44100:duration=2", "-ac 2 -c:a aac -b:a 128k"},
    {"tone.mp3", "aevalsrc=exprs='0.5*sin(2*PI*(300+50*floor(t))*t)':s=44100:d=35",
     "-ac 2 -c:a libmp3lame -b:a 128k"},
};

bool RunFfmpeg(const std::string& input, const std::string& output, const std::string& path) {
  const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i \"" +
                              input + "\" " + output + " '" + path + "' </dev/null";
  return std::system(command.c_str()) == 0;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool Make(const std::string& name, const std::string& path) {
  for (const Recipe& r : kRecipes) {
    if (name == r.name) return RunFfmpeg(r.input, r.output, path);
  }
  if (name == "video.mp4") {
    return RunFfmpeg("testsrc=size=64x48:rate=5:duration=1", "-c:v mpeg4", path);
  }
  if (name == "text.mp3") {
    std::string text;
    for (int i = 0; i < 200; ++i)
      text += "This is not a song, just line " + std::to_string(i) + ".\n";
    return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
  }
  if (name == "empty.mp3") return WriteFile(path, {});
  if (name == "truncated.mp3" || name == "garbage.mp3") {
    std::vector<uint8_t> song = ReadFile(Fixture("s44.mp3"));
    if (song.size() < 10000) return false;
    // An odd offset lands inside a frame (frames are some 418 bytes long).
    const size_t middle = song.size() / 2 + 137;
    if (name == "truncated.mp3") {
      song.resize(middle);
    } else {
      uint32_t seed = 12345;
      std::vector<uint8_t> noise(4096);
      for (uint8_t& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
      }
      song.insert(song.begin() + static_cast<std::ptrdiff_t>(middle), noise.begin(), noise.end());
    }
    return WriteFile(path, song);
  }
  return false;
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FormatDeleter {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

// Drains every frame the decoder has ready into `audio`.
void Collect(AVCodecContext* dec, AVFrame* frame, DecodedAudio* audio) {
  while (avcodec_receive_frame(dec, frame) == 0) {
    audio->sample_rate = frame->sample_rate;
    audio->channels = frame->ch_layout.nb_channels;
    audio->samples += frame->nb_samples;
    if (frame->format == AV_SAMPLE_FMT_FLTP || frame->format == AV_SAMPLE_FMT_FLT) {
      const float* left = reinterpret_cast<const float*>(frame->data[0]);
      const int step = frame->format == AV_SAMPLE_FMT_FLT ? audio->channels : 1;
      for (int i = 0; i < frame->nb_samples; ++i) audio->first_channel.push_back(left[i * step]);
    } else if (frame->format == AV_SAMPLE_FMT_S16P || frame->format == AV_SAMPLE_FMT_S16) {
      const int16_t* left = reinterpret_cast<const int16_t*>(frame->data[0]);
      const int step = frame->format == AV_SAMPLE_FMT_S16 ? audio->channels : 1;
      for (int i = 0; i < frame->nb_samples; ++i) {
        audio->first_channel.push_back(static_cast<float>(left[i * step]) / 32768.0f);
      }
    }
    av_frame_unref(frame);
  }
}

int SampleRateIndex(int rate) {
  static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
  for (int i = 0; i < 13; ++i) {
    if (kRates[i] == rate) return i;
  }
  return -1;
}

}  // namespace

std::string Fixture(const std::string& name) {
  static std::map<std::string, std::string>* made = new std::map<std::string, std::string>;
  auto it = made->find(name);
  if (it != made->end()) return it->second;
  const std::string& folder = Folder()->path();
  if (folder.empty()) {
    ADD_FAILURE() << "no temporary folder";
    return {};
  }
  const std::string path = folder + "/" + name;
  if (!Make(name, path)) {
    ADD_FAILURE() << "cannot make the fixture " << name;
    return {};
  }
  (*made)[name] = path;
  return path;
}

std::string MissingFile() { return Folder()->path() + "/no-such-song.mp3"; }

double ToneFrequency(int second) { return 300.0 + 50.0 * second; }

ParsedStream Parse(const std::vector<uint8_t>& bytes) {
  ParsedStream parsed;
  size_t pos = 0;
  while (pos < bytes.size()) {
    parsed.boundaries.push_back(pos);
    if (bytes.size() - pos < talk_base::NorvoMediaStream::kFrameHeaderSize) {
      parsed.error = "truncated header";
      return parsed;
    }
    const uint8_t type = bytes[pos];
    const uint32_t length = BigEndian32(&bytes[pos + 1]);
    const int32_t stamp = static_cast<int32_t>(BigEndian32(&bytes[pos + 5]));
    if (type == 0) {
      const bool marker = bytes.size() - pos >= talk_base::NorvoMediaStream::kEndMarkerSize &&
                          std::memcmp(&bytes[pos], talk_base::NorvoMediaStream::kEndMarker,
                                      talk_base::NorvoMediaStream::kEndMarkerSize) == 0;
      if (!marker) {
        parsed.error = "broken end marker";
      } else if (bytes.size() - pos != talk_base::NorvoMediaStream::kEndMarkerSize) {
        parsed.error = "bytes after the end marker";
      } else {
        parsed.boundaries.push_back(bytes.size());
        parsed.well_formed = true;
      }
      return parsed;
    }
    if (type != 1) {
      parsed.error = "frame type " + std::to_string(type);
      return parsed;
    }
    pos += talk_base::NorvoMediaStream::kFrameHeaderSize;
    if (bytes.size() - pos < length) {
      parsed.error = "truncated payload";
      return parsed;
    }
    Frame f;
    f.length = length;
    f.time_stamp = stamp;
    f.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                     bytes.begin() + static_cast<std::ptrdiff_t>(pos + length));
    parsed.frames.push_back(std::move(f));
    pos += length;
  }
  parsed.error = "no end marker";
  return parsed;
}

std::vector<uint8_t> ReadAll(talk_base::NorvoMediaStream& stream, size_t size,
                             std::vector<ReadCall>* calls) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> buffer(std::max<size_t>(size, talk_base::NorvoMediaStream::kEndMarkerSize));
  size_t ask = size;
  for (int i = 0; i < 10000000; ++i) {
    size_t got = 12345;
    int error = 0;
    const talk_base::StreamResult r = stream.Read(buffer.data(), ask, &got, &error);
    if (calls) calls->push_back({ask, got, r});
    if (r == talk_base::SR_EOS) {
      EXPECT_EQ(got, 0u);
      return bytes;
    }
    if (r != talk_base::SR_SUCCESS) {
      ADD_FAILURE() << "Read failed with result " << r << ", error " << error;
      return bytes;
    }
    if (got > ask) {
      ADD_FAILURE() << "Read returned " << got << " bytes for a buffer of " << ask;
      return bytes;
    }
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
    ask = got == 0 ? talk_base::NorvoMediaStream::kEndMarkerSize : size;
  }
  ADD_FAILURE() << "the stream never ended";
  return bytes;
}

std::vector<uint8_t> StreamFile(const std::string& path, int start) {
  talk_base::NorvoMediaStream stream(path, 44100, 128, 2, 0);
  if (!stream.Open(path, "rb", start)) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  return ReadAll(stream, 65536);
}

DecodedAudio DecodeAacFrames(const std::vector<Frame>& frames, int sample_rate, int channels) {
  DecodedAudio audio;
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
  std::unique_ptr<AVCodecContext, CodecContextDeleter> dec(avcodec_alloc_context3(codec));
  const int index = SampleRateIndex(sample_rate);
  if (!dec || index < 0) return audio;
  // AudioSpecificConfig: object type 2 (AAC LC), 4 bits of rate index, 4 of channel config.
  dec->extradata = static_cast<uint8_t*>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
  dec->extradata[0] = static_cast<uint8_t>((2 << 3) | (index >> 1));
  dec->extradata[1] = static_cast<uint8_t>(((index & 1) << 7) | (channels << 3));
  dec->extradata_size = 2;
  dec->sample_rate = sample_rate;
  av_channel_layout_default(&dec->ch_layout, channels);
  if (avcodec_open2(dec.get(), codec, nullptr) < 0) return audio;
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  for (const Frame& f : frames) {
    if (av_new_packet(packet.get(), static_cast<int>(f.payload.size())) < 0) return audio;
    std::memcpy(packet->data, f.payload.data(), f.payload.size());
    if (avcodec_send_packet(dec.get(), packet.get()) < 0) ++audio.errors;
    av_packet_unref(packet.get());
    Collect(dec.get(), frame.get(), &audio);
  }
  avcodec_send_packet(dec.get(), nullptr);
  Collect(dec.get(), frame.get(), &audio);
  audio.ok = true;
  return audio;
}

DecodedAudio DecodeFile(const std::string& path) {
  DecodedAudio audio;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return audio;
  std::unique_ptr<AVFormatContext, FormatDeleter> format(raw);
  if (avformat_find_stream_info(format.get(), nullptr) < 0) return audio;
  const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return audio;
  const AVCodecParameters* par = format->streams[index]->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  std::unique_ptr<AVCodecContext, CodecContextDeleter> dec(avcodec_alloc_context3(codec));
  if (!dec || avcodec_parameters_to_context(dec.get(), par) < 0 ||
      avcodec_open2(dec.get(), codec, nullptr) < 0) {
    return audio;
  }
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  while (av_read_frame(format.get(), packet.get()) >= 0) {
    if (packet->stream_index == index && avcodec_send_packet(dec.get(), packet.get()) < 0) {
      ++audio.errors;
    }
    av_packet_unref(packet.get());
    Collect(dec.get(), frame.get(), &audio);
  }
  avcodec_send_packet(dec.get(), nullptr);
  Collect(dec.get(), frame.get(), &audio);
  audio.ok = true;
  return audio;
}

double ToneStrength(const float* samples, size_t count, int sample_rate, double frequency) {
  const double w = 2.0 * M_PI * frequency / sample_rate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (size_t i = 0; i < count; ++i) {
    const double s0 = samples[i] + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2)) / static_cast<double>(count);
}

}  // namespace media_test
