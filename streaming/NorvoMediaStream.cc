#include "streaming/NorvoMediaStream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include "messaging/base/logging.h"

namespace talk_base {

const uint8_t NorvoMediaStream::kEndMarker[NorvoMediaStream::kEndMarkerSize] = {0, 0, 0, 0, 1,
                                                                                0, 0, 0, 0, 0};

namespace {

constexpr int kDefaultAacInputFrameLength = 4096;  // 1,024 samples of 16-bit stereo
constexpr int kAacFrameSamples = 1024;
constexpr int kBitsPerSample = 16;
constexpr int kMinReadLength = static_cast<int>(NorvoMediaStream::kFrameHeaderSize);
// The sample FIFO starts with room for this many bytes of 16-bit PCM; it never needs more than
// one encoder frame plus one decoded frame.
constexpr int kFifoBytes = 192000;
constexpr int kDefaultBitRate = 128000;

// FFmpeg's own messages are not wanted in the trace: unreadable files are reported by Open.
void DiscardFfmpegLog(void*, int, const char*, va_list) {}

void FfmpegInit() {
  static std::once_flag once;
  bool first = false;
  std::call_once(once, [&first] {
    av_log_set_callback(DiscardFfmpegLog);
    first = true;
  });
  if (!first) LOG(LS_VERBOSE) << "NorvoMediaStream - ffmpeg_init, already initialized";
}

std::string FfmpegError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof(text));
  return text;
}

void PutBigEndian32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

uint32_t GetBigEndian32(const uint8_t* in) {
  return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
         (static_cast<uint32_t>(in[2]) << 8) | static_cast<uint32_t>(in[3]);
}

}  // namespace

// Everything FFmpeg needs for one open stream. All of it is made by Open and released by the
// destructor, so Read only moves data between buffers that already exist.
struct MediaStreamCodecState {
  MediaStreamCodecState() = default;
  MediaStreamCodecState(const MediaStreamCodecState&) = delete;
  MediaStreamCodecState& operator=(const MediaStreamCodecState&) = delete;
  ~MediaStreamCodecState() {
    av_frame_free(&encoder_frame);
    av_frame_free(&decoded_frame);
    av_packet_free(&encoded_packet);
    av_packet_free(&packet);
    if (converted) av_freep(&converted[0]);
    av_freep(&converted);
    if (pcm_fifo) av_audio_fifo_free(pcm_fifo);
    swr_free(&resampler);
    av_channel_layout_uninit(&resampler_in_layout);
    avcodec_free_context(&encoder_context);
    avcodec_free_context(&decoder_context);
    avformat_close_input(&format_context);
  }

  AVFormatContext* format_context = nullptr;
  AVCodecContext* decoder_context = nullptr;
  AVStream* audio_stream = nullptr;
  int audio_stream_index = -1;
  int video_stream_index = -1;
  // Bytes of 16-bit PCM that make one AAC frame of 1,024 samples per channel.
  int aac_input_frame_length = kDefaultAacInputFrameLength;
  // Bytes of 16-bit PCM that one decoded source frame yields; -1 until known.
  int decoded_frame_length = -1;
  AVCodecContext* encoder_context = nullptr;
  const AVCodec* aac_encoder = nullptr;
  const AVCodec* source_decoder = nullptr;

  // Decoded audio in the encoder's sample format, rate and layout, waiting for a whole frame.
  AVAudioFifo* pcm_fifo = nullptr;
  // Converts the decoder's output when it differs from what the encoder takes.
  SwrContext* resampler = nullptr;
  int resampler_in_format = -1;
  int resampler_in_rate = 0;
  AVChannelLayout resampler_in_layout = {};
  uint8_t** converted = nullptr;
  int converted_capacity = 0;  // samples per channel

  AVPacket* packet = nullptr;          // the demuxed packet, reused
  AVFrame* decoded_frame = nullptr;    // the decoder's output, reused
  AVFrame* encoder_frame = nullptr;    // one encoder frame taken from the FIFO, reused
  AVPacket* encoded_packet = nullptr;  // the encoder's output, reused
  int64_t next_pts = 0;

  size_t bytes_delivered = 0;
  std::unique_ptr<uint8_t[]> pending_frame_buffer;
  int frame_count = 0;
  long total_audio_bytes_per_second = 0;
  // Wraps around like the 32-bit field it is written to.
  uint32_t time_stamp = 0;
  int min_read_length = kMinReadLength;
  int sample_rate = 0;
  int channels = 0;
  int bits_per_sample = kBitsPerSample;
  int frame_duration_ms = 0;

  bool pending_frame = false;
  size_t current_big_frame_read_pos = 0;
  size_t pending_frame_length = 0;

  // Progress of the pipeline towards the end of the audio.
  bool input_ended = false;      // the demuxer has no more packets; the decoder is being drained
  bool decoder_drained = false;  // the decoder has given its last frame
  bool encoder_flushed = false;  // the encoder has been told the audio ended
  bool end_of_audio = false;     // no more frames: the end marker is next
};

NorvoMediaStream::NorvoMediaStream(const std::string& file_name, int sample_rate, int bit_rate,
                                   int channels, int duration)
    : sample_rate_(sample_rate),
      bit_rate_(bit_rate),
      channels_(channels),
      duration_(duration),
      file_name_(file_name) {}

NorvoMediaStream::~NorvoMediaStream() { Close(); }

StreamState NorvoMediaStream::GetState() const {
  LOG(LS_VERBOSE) << "NorvoMediaStream::GetState - Note supported.";
  return state_;
}

bool NorvoMediaStream::InternalInit(bool owns_input) {
  owns_input_ = owns_input;
  state_ = SS_CLOSED;
  end_of_stream_ = false;
  codec_ = std::make_unique<MediaStreamCodecState>();
  MediaStreamCodecState& c = *codec_;
  c.aac_input_frame_length = channels_ == 1 ? 2048 : kDefaultAacInputFrameLength;
  c.sample_rate = sample_rate_;
  c.channels = channels_;
  c.total_audio_bytes_per_second =
      static_cast<long>(kBitsPerSample) * c.channels * c.sample_rate / 8;
  if (start_position_ >= 1) {
    c.time_stamp = static_cast<uint32_t>(start_position_) * 1000u;
    LOG(LS_INFO) << "NorvoMediaStream::InternalInit: Start position is non-zero, base time stamp "
                    "is set to "
                 << c.time_stamp << " ms";
  }
  FfmpegInit();
  c.pending_frame_buffer = std::make_unique<uint8_t[]>(kMaxFrameSize);
  c.packet = av_packet_alloc();
  c.decoded_frame = av_frame_alloc();
  c.encoder_frame = av_frame_alloc();
  c.encoded_packet = av_packet_alloc();
  if (!c.packet || !c.decoded_frame || !c.encoder_frame || !c.encoded_packet) {
    LOG(LS_ERROR) << "NorvoMediaStream::InternalInit - out of memory";
    return false;
  }
  return true;
}

bool NorvoMediaStream::Open(const std::string& file_name, const char* mode, int start_position) {
  // A negative position means the beginning; one past the time stamps' range cannot be served.
  if (start_position > kMaxStartPosition) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - start position " << start_position
                  << " s is out of range";
    Close();
    return false;
  }
  start_position_ = std::max(start_position, 0);
  return Open(file_name, mode);
}

bool NorvoMediaStream::Open(const std::string& file_name, const char* mode) {
  Close();
  file_name_ = file_name;
  if (mode && std::strcmp(mode, "hubclient") == 0) return InternalInit(false);
  if (!InternalInit(true)) return false;
  if (!OpenInput()) return false;
  state_ = SS_OPEN;
  return true;
}

bool NorvoMediaStream::OpenInput() {
  MediaStreamCodecState& c = *codec_;
  struct stat st;
  if (::stat(file_name_.c_str(), &st) != 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Cannot stat " << file_name_ << ": "
                  << std::strerror(errno);
    return false;
  }
  LOG(LS_INFO) << "NorvoMediaStream - Open: opening file: " << file_name_
               << ", size = " << static_cast<long long>(st.st_size) << " bytes";
  if (avformat_open_input(&c.format_context, file_name_.c_str(), nullptr, nullptr) != 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Cannot open this file.";
    return false;
  }
  if (avformat_find_stream_info(c.format_context, nullptr) < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Couldn't find stream information.";
    return false;
  }
  for (unsigned i = 0; i < c.format_context->nb_streams; ++i) {
    const AVCodecParameters* par = c.format_context->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && c.audio_stream_index < 0) {
      c.audio_stream_index = static_cast<int>(i);
    } else if (par->codec_type == AVMEDIA_TYPE_VIDEO && c.video_stream_index < 0) {
      c.video_stream_index = static_cast<int>(i);
    }
  }
  LOG(LS_INFO) << "NorvoMediaStream - ========== Dump Media File Info Start "
                  "=========================";
  LOG(LS_INFO) << "NorvoMediaStream - format " << c.format_context->iformat->name << ", "
               << c.format_context->nb_streams << " streams, duration "
               << (c.format_context->duration == AV_NOPTS_VALUE
                       ? -1.0
                       : static_cast<double>(c.format_context->duration) / AV_TIME_BASE)
               << " s, bit rate " << c.format_context->bit_rate;
  for (unsigned i = 0; i < c.format_context->nb_streams; ++i) {
    const AVCodecParameters* par = c.format_context->streams[i]->codecpar;
    LOG(LS_INFO) << "NorvoMediaStream - stream " << i << ": "
                 << av_get_media_type_string(par->codec_type) << " "
                 << avcodec_get_name(par->codec_id) << ", " << par->sample_rate << " Hz, "
                 << par->ch_layout.nb_channels << " channels, " << par->bit_rate << " b/s";
  }
  LOG(LS_INFO) << "NorvoMediaStream - ========== Dump Media File Info End "
                  "=========================";
  if (c.audio_stream_index < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Didn't find a audio stream.";
    return false;
  }
  if (c.video_stream_index < 0) {
    LOG(LS_VERBOSE) << "NorvoMediaStream::Open - no video stream";
  }
  c.audio_stream = c.format_context->streams[c.audio_stream_index];
  const AVCodecParameters* par = c.audio_stream->codecpar;
  if (par->sample_rate > 0) c.sample_rate = par->sample_rate;
  if (par->ch_layout.nb_channels > 0) c.channels = par->ch_layout.nb_channels;
  c.bits_per_sample = kBitsPerSample;
  c.total_audio_bytes_per_second =
      static_cast<long>(kBitsPerSample) * c.channels * c.sample_rate / 8;

  if (par->codec_id == AV_CODEC_ID_MP3 || par->codec_id == AV_CODEC_ID_MP2) {
    LOG(LS_INFO) << "NorvoMediaStream::Open - Stream is MP3/MP2 format, we need transcoding.";
    if (!OpenTranscoder()) return false;
  } else {
    LOG(LS_INFO) << "NorvoMediaStream::Open - " << avcodec_get_name(par->codec_id)
                 << " audio is passed through";
  }

  if (start_position_ > 0) {
    const AVRational tb = c.audio_stream->time_base;
    const int64_t target =
        av_rescale(static_cast<int64_t>(start_position_) * 1000, tb.den, tb.num) / 1000;
    if (avformat_seek_file(c.format_context, c.audio_stream_index, 0, target, target,
                           AVSEEK_FLAG_ANY) < 0) {
      LOG(LS_ERROR)
          << "FATAL ERROR!!! NorvoMediaStream::Open - avformat_seek_file failed, sth is wrong!";
      return false;
    }
  }
  return true;
}

bool NorvoMediaStream::OpenTranscoder() {
  MediaStreamCodecState& c = *codec_;
  const AVCodecParameters* par = c.audio_stream->codecpar;
  if (c.sample_rate <= 0 || c.channels <= 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - no sample rate or channel count in the stream";
    return false;
  }

  c.decoded_frame_length = par->frame_size * c.channels * 2;
  if (c.decoded_frame_length != 2304 && c.decoded_frame_length != 4608 && c.sample_rate != 22050) {
    LOG(LS_WARNING) << "NorvoMediaStream::Open - This raw frame length is not supported!Abort now.";
  }
  // The encoder always takes 1,024 samples per channel, whatever the source's frame size (576
  // samples at 16, 22.05 and 24 kHz, 1,152 otherwise), so the PCM block behind one AAC frame is
  // 1,024 x channels x 2 bytes. This is the 2,048 / 4,096 bytes of mono and stereo MP3s; deriving
  // it keeps the time stamps right for stereo files with short frames too.
  c.aac_input_frame_length = kAacFrameSamples * c.channels * 2;
  c.frame_duration_ms =
      static_cast<int>(static_cast<double>(c.aac_input_frame_length) /
                       static_cast<double>(c.total_audio_bytes_per_second) * 1000.0);

  c.source_decoder = avcodec_find_decoder(par->codec_id);
  if (!c.source_decoder) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - MP3 decoder not found";
    return false;
  }
  c.decoder_context = avcodec_alloc_context3(c.source_decoder);
  if (!c.decoder_context ||
      avcodec_parameters_to_context(c.decoder_context, c.audio_stream->codecpar) < 0 ||
      avcodec_open2(c.decoder_context, c.source_decoder, nullptr) < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Cannot open MP3 encoder!";
    return false;
  }

  c.aac_encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!c.aac_encoder) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - AAC encoder not found";
    return false;
  }
  c.encoder_context = avcodec_alloc_context3(c.aac_encoder);
  if (!c.encoder_context) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Cannot allocate encoder context!";
    return false;
  }
  AVCodecContext* enc = c.encoder_context;
  enc->codec_type = AVMEDIA_TYPE_AUDIO;
  enc->codec_id = AV_CODEC_ID_AAC;
  enc->sample_rate = c.sample_rate;
  av_channel_layout_default(&enc->ch_layout, c.channels);
  enc->bit_rate = c.decoder_context->bit_rate > 0 ? c.decoder_context->bit_rate : kDefaultBitRate;
  // The encoder takes its own sample format (planar float for FFmpeg's AAC encoder); whatever
  // the decoder gives is converted on the way into the FIFO.
  enc->sample_fmt =
      c.aac_encoder->sample_fmts ? c.aac_encoder->sample_fmts[0] : c.decoder_context->sample_fmt;
  enc->time_base = AVRational{1, c.sample_rate};
  const int sample_size = av_samples_get_buffer_size(nullptr, c.channels, par->frame_size,
                                                     c.decoder_context->sample_fmt, 1);
  if (sample_size != 4096) {
    LOG(LS_VERBOSE) << "NorvoMediaStream::Open - AAC sample size is not 4096 actual sample size: "
                    << sample_size;
  }
  const int opened = avcodec_open2(enc, c.aac_encoder, nullptr);
  if (opened < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - Cannot open AAC encoder! (" << FfmpegError(opened)
                  << ")";
    return false;
  }
  const int frame_samples = enc->frame_size > 0 ? enc->frame_size : kAacFrameSamples;

  // Room for one encoder frame plus several decoded frames; the FIFO would grow if a source
  // ever delivered more, but MPEG audio frames hold at most 1,152 samples.
  const int fifo_samples =
      std::max(kFifoBytes / (c.channels * 2), frame_samples + 4 * kAacFrameSamples);
  c.pcm_fifo = av_audio_fifo_alloc(enc->sample_fmt, c.channels, fifo_samples);
  c.encoder_frame->format = enc->sample_fmt;
  c.encoder_frame->sample_rate = enc->sample_rate;
  c.encoder_frame->nb_samples = frame_samples;
  if (!c.pcm_fifo || av_channel_layout_copy(&c.encoder_frame->ch_layout, &enc->ch_layout) < 0 ||
      av_frame_get_buffer(c.encoder_frame, 0) < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - out of memory";
    return false;
  }
  c.converted_capacity = 4 * kAacFrameSamples;
  if (av_samples_alloc_array_and_samples(&c.converted, nullptr, c.channels, c.converted_capacity,
                                         enc->sample_fmt, 0) < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream::Open - out of memory";
    return false;
  }
  LOG(LS_INFO) << "NorvoMediaStream::Open - transcoding " << c.source_decoder->name << " at "
               << c.sample_rate << " Hz, " << c.channels << " channels to AAC at " << enc->bit_rate
               << " b/s, " << c.frame_duration_ms << " ms per frame";
  return true;
}

// Converts one decoded frame into the encoder's format and appends it to the FIFO.
bool NorvoMediaStream::QueuePcm(const AVFrame* frame) {
  MediaStreamCodecState& c = *codec_;
  AVCodecContext* enc = c.encoder_context;
  const bool same_layout = av_channel_layout_compare(&frame->ch_layout, &enc->ch_layout) == 0 ||
                           (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC &&
                            frame->ch_layout.nb_channels == enc->ch_layout.nb_channels);
  if (frame->format == enc->sample_fmt && frame->sample_rate == enc->sample_rate && same_layout) {
    return av_audio_fifo_write(c.pcm_fifo, reinterpret_cast<void**>(frame->extended_data),
                               frame->nb_samples) == frame->nb_samples;
  }
  // The decoder's format (fixed-point decoders), or the stream itself, differs from the
  // encoder's: (re)configure the converter for what this frame holds.
  if (!c.resampler || frame->format != c.resampler_in_format ||
      frame->sample_rate != c.resampler_in_rate ||
      av_channel_layout_compare(&frame->ch_layout, &c.resampler_in_layout) != 0) {
    swr_free(&c.resampler);
    av_channel_layout_uninit(&c.resampler_in_layout);
    AVChannelLayout in_layout;
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&in_layout, frame->ch_layout.nb_channels);
    } else if (av_channel_layout_copy(&in_layout, &frame->ch_layout) < 0) {
      return false;
    }
    const int made = swr_alloc_set_opts2(
        &c.resampler, &enc->ch_layout, enc->sample_fmt, enc->sample_rate, &in_layout,
        static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    if (made < 0 || swr_init(c.resampler) < 0) {
      LOG(LS_WARNING) << "NorvoMediaStream - cannot convert decoded audio (format " << frame->format
                      << ", " << frame->sample_rate << " Hz, " << frame->ch_layout.nb_channels
                      << " channels)";
      swr_free(&c.resampler);
      return false;
    }
    c.resampler_in_format = frame->format;
    c.resampler_in_rate = frame->sample_rate;
    av_channel_layout_copy(&c.resampler_in_layout, &frame->ch_layout);
  }
  const int needed = swr_get_out_samples(c.resampler, frame->nb_samples);
  if (needed > c.converted_capacity) {
    // Only a stream that changes its format mid-way gets here.
    av_freep(&c.converted[0]);
    av_freep(&c.converted);
    c.converted_capacity = 0;
    if (av_samples_alloc_array_and_samples(&c.converted, nullptr, c.channels, needed,
                                           enc->sample_fmt, 0) < 0) {
      return false;
    }
    c.converted_capacity = needed;
  }
  const int out = swr_convert(c.resampler, c.converted, c.converted_capacity,
                              const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (out < 0) return false;
  return av_audio_fifo_write(c.pcm_fifo, reinterpret_cast<void**>(c.converted), out) == out;
}

void NorvoMediaStream::DecodeMore() {
  MediaStreamCodecState& c = *codec_;
  int r = avcodec_receive_frame(c.decoder_context, c.decoded_frame);
  if (r == 0) {
    const int size = c.decoded_frame->nb_samples * c.channels * 2;
    if (size != c.decoded_frame_length) {
      LOG(LS_VERBOSE) << "NorvoMediaStream - ERROR!!! Decode resultSize is not ("
                      << c.decoded_frame_length << ")! Actual value: " << size
                      << ", continue and read next packet";
    }
    if (!QueuePcm(c.decoded_frame)) {
      LOG(LS_WARNING) << "NorvoMediaStream - decoded audio dropped";
    }
    av_frame_unref(c.decoded_frame);
    return;
  }
  if (r == AVERROR_EOF || c.input_ended) {
    c.decoder_drained = true;
    return;
  }
  if (r != AVERROR(EAGAIN)) {
    // A broken frame; move on to the next packet so that the stream always makes progress.
    LOG(LS_VERBOSE) << "NorvoMediaStream - decoder: " << FfmpegError(r);
  }
  r = av_read_frame(c.format_context, c.packet);
  if (r < 0) {
    if (r != AVERROR_EOF) {
      LOG(LS_WARNING) << "NorvoMediaStream - reading " << file_name_ << ": " << FfmpegError(r);
    }
    c.input_ended = true;
    // Drain the decoder; the frames it still holds come out on the next calls.
    avcodec_send_packet(c.decoder_context, nullptr);
    return;
  }
  if (c.packet->stream_index == c.audio_stream_index) {
    r = avcodec_send_packet(c.decoder_context, c.packet);
    if (r < 0) {
      LOG(LS_VERBOSE) << "NorvoMediaStream - broken audio packet skipped: " << FfmpegError(r);
    }
  }
  av_packet_unref(c.packet);
}

// Hands the encoder one frame from the FIFO; at the end of the audio the last, partial frame is
// padded with silence.
void NorvoMediaStream::EncodeFromFifo() {
  MediaStreamCodecState& c = *codec_;
  AVFrame* frame = c.encoder_frame;
  const int frame_samples =
      c.encoder_context->frame_size > 0 ? c.encoder_context->frame_size : kAacFrameSamples;
  if (av_frame_make_writable(frame) < 0) {
    LOG(LS_ERROR) << "NorvoMediaStream - out of memory";
    av_audio_fifo_drain(c.pcm_fifo, frame_samples);
    return;
  }
  frame->nb_samples = frame_samples;
  const int got =
      av_audio_fifo_read(c.pcm_fifo, reinterpret_cast<void**>(frame->data), frame_samples);
  if (got < frame_samples) {
    av_samples_set_silence(frame->data, std::max(got, 0), frame_samples - std::max(got, 0),
                           c.channels, static_cast<AVSampleFormat>(frame->format));
  }
  frame->pts = c.next_pts;
  c.next_pts += frame_samples;
  const int r = avcodec_send_frame(c.encoder_context, frame);
  if (r < 0) {
    LOG(LS_WARNING) << "NorvoMediaStream - TRANSCODE - encoder refused a frame: " << FfmpegError(r);
  }
}

bool NorvoMediaStream::NextTranscodedFrame(const uint8_t** payload, size_t* size) {
  MediaStreamCodecState& c = *codec_;
  av_packet_unref(c.encoded_packet);
  const int frame_samples =
      c.encoder_context->frame_size > 0 ? c.encoder_context->frame_size : kAacFrameSamples;
  bool sent_since_packet = false;
  for (;;) {
    const int r = avcodec_receive_packet(c.encoder_context, c.encoded_packet);
    if (r == 0) {
      *payload = c.encoded_packet->data;
      *size = static_cast<size_t>(c.encoded_packet->size);
      return true;
    }
    if (r != AVERROR(EAGAIN) || c.encoder_flushed) {
      if (r != AVERROR_EOF) {
        LOG(LS_WARNING) << "NorvoMediaStream - TRANSCODE - encoder: " << FfmpegError(r);
      }
      return false;
    }
    if (sent_since_packet) {
      // The encoder keeps one frame back before its first packet.
      LOG(LS_VERBOSE) << "NorvoMediaStream - TRANSCODE - FATAL ERROR!!  - No data was encoded.";
      sent_since_packet = false;
    }
    if (av_audio_fifo_size(c.pcm_fifo) >= frame_samples) {
      EncodeFromFifo();
      sent_since_packet = true;
    } else if (c.decoder_drained) {
      if (av_audio_fifo_size(c.pcm_fifo) > 0) {
        EncodeFromFifo();
      } else {
        // Flush the encoder so that its last frames of audio reach the device too.
        avcodec_send_frame(c.encoder_context, nullptr);
        c.encoder_flushed = true;
      }
    } else {
      DecodeMore();
    }
  }
}

bool NorvoMediaStream::NextPassThroughFrame(const uint8_t** payload, size_t* size) {
  MediaStreamCodecState& c = *codec_;
  av_packet_unref(c.packet);
  for (;;) {
    const int r = av_read_frame(c.format_context, c.packet);
    if (r < 0) {
      if (r != AVERROR_EOF) {
        LOG(LS_WARNING) << "NorvoMediaStream - reading " << file_name_ << ": " << FfmpegError(r);
      }
      c.input_ended = true;
      return false;
    }
    if (c.packet->stream_index == c.audio_stream_index) {
      *payload = c.packet->data;
      *size = static_cast<size_t>(c.packet->size);
      return true;
    }
    av_packet_unref(c.packet);
  }
}

bool NorvoMediaStream::NextFrame(const uint8_t** payload, size_t* size) {
  return codec_->encoder_context ? NextTranscodedFrame(payload, size)
                                 : NextPassThroughFrame(payload, size);
}

StreamResult NorvoMediaStream::Read(void* buffer, size_t buffer_len, size_t* read, int* error) {
  size_t ignored = 0;
  if (!read) read = &ignored;
  *read = 0;
  if (error) *error = 0;
  if (buffer_len < NorvoMediaStream::kFrameHeaderSize) return SR_SUCCESS;
  if (end_of_stream_) {
    LOG(LS_VERBOSE) << "********** NorvoMediaStream::Read - All data consumed!";
    return SR_EOS;
  }
  if (state_ != SS_OPEN || !codec_ || !codec_->format_context || !buffer) {
    LOG(LS_ERROR) << "NorvoMediaStream::Read - the stream is not open";
    if (error) *error = EINVAL;
    return SR_ERROR;
  }
  MediaStreamCodecState& c = *codec_;
  uint8_t* out = static_cast<uint8_t*>(buffer);

  if (c.pending_frame) {
    // The rest of a frame that did not fit last time, and nothing else.
    const size_t n = std::min(buffer_len, c.pending_frame_length - c.current_big_frame_read_pos);
    std::memcpy(out, c.pending_frame_buffer.get() + c.current_big_frame_read_pos, n);
    c.current_big_frame_read_pos += n;
    if (c.current_big_frame_read_pos == c.pending_frame_length) {
      c.pending_frame = false;
      c.bytes_delivered += c.pending_frame_length;
      c.current_big_frame_read_pos = 0;
      c.pending_frame_length = 0;
      ++c.frame_count;
    }
    *read = n;
    return SR_SUCCESS;
  }

  size_t pos = 0;
  for (;;) {
    if (c.end_of_audio) {
      // PCM that never made a whole frame went out padded; what is left is the marker, and only
      // whole: a reader must never see part of it.
      if (buffer_len - pos >= kEndMarkerSize) {
        std::memcpy(out + pos, kEndMarker, kEndMarkerSize);
        pos += kEndMarkerSize;
        end_of_stream_ = true;
      }
      break;
    }
    const uint8_t* payload = nullptr;
    size_t size = 0;
    if (!NextFrame(&payload, &size)) {
      c.end_of_audio = true;
      continue;
    }
    if (size > kMaxFrameSize) {
      LOG(LS_ERROR) << "NorvoMediaStream - audio packet size is too big, abort now!";
      c.end_of_audio = true;
      continue;
    }
    // There is always room for a header here: the buffer holds at least 9 bytes, and after a
    // frame the loop only goes on while more than 1,024 bytes are free.
    out[pos] = kAudioFrameType;
    PutBigEndian32(out + pos + 1, static_cast<uint32_t>(size));
    PutBigEndian32(out + pos + 5, c.time_stamp);
    pos += kFrameHeaderSize;
    const size_t room = buffer_len - pos;
    if (size > room) {
      if (!c.encoder_context) {
        LOG(LS_VERBOSE) << "Reading audio frame, packet size = " << size
                        << ", availableBufLen = " << room << ", need to send by chunks";
      }
      std::memcpy(c.pending_frame_buffer.get(), payload, size);
      std::memcpy(out + pos, payload, room);
      c.pending_frame = true;
      c.pending_frame_length = size;
      c.current_big_frame_read_pos = room;
      c.time_stamp += static_cast<uint32_t>(c.frame_duration_ms);
      if (!c.encoder_context) {
        LOG(LS_VERBOSE) << "Reading audio frame, lCurrentBigFrameReadPos = " << room;
      }
      pos = buffer_len;
      break;
    }
    if (size > 0) std::memcpy(out + pos, payload, size);
    pos += size;
    c.bytes_delivered += size;
    ++c.frame_count;
    c.time_stamp += static_cast<uint32_t>(c.frame_duration_ms);
    if (buffer_len - pos <= kMinFreeSpace) break;
  }
  *read = pos;
  return SR_SUCCESS;
}

StreamResult NorvoMediaStream::Write(const void*, size_t, size_t* written, int* error) {
  if (written) *written = 0;
  if (error) *error = EBADF;
  LOG(LS_VERBOSE) << "NorvoMediaStream::Write - Not supported.";
  return SR_ERROR;
}

void NorvoMediaStream::Close() {
  if (!codec_) return;
  OnClose();
  // The codec state's destructor releases buffers, FIFO, encoder, decoder and input file.
  codec_.reset();
  state_ = SS_CLOSED;
}

bool NorvoMediaStream::SetPosition(size_t) {
  LOG(LS_VERBOSE) << "NorvoMediaStream::SetPosition - Not supported.";
  return false;
}

bool NorvoMediaStream::GetPosition(size_t* position) const {
  LOG(LS_VERBOSE) << "NorvoMediaStream::GetPosition - Not supported.";
  if (position) *position = codec_ ? codec_->bytes_delivered : 0;
  return true;
}

bool NorvoMediaStream::GetSize(size_t* size) const {
  LOG(LS_VERBOSE) << "NorvoMediaStream::GetSize - Not supported.";
  if (size) *size = kUnknownSize;
  return true;
}

bool NorvoMediaStream::GetAvailable(size_t* size) const {
  LOG(LS_VERBOSE) << "NorvoMediaStream::GetAvailable - Return max size";
  if (size) *size = kUnknownSize;
  return true;
}

bool NorvoMediaStream::Flush() {
  LOG(LS_VERBOSE) << "NorvoMediaStream::Flush - Not supported.";
  return false;
}

bool NorvoMediaStream::OpenShare(const std::string&, const char*, int) {
  LOG(LS_VERBOSE) << "NorvoMediaStream::OpenShare - Not supported!";
  return false;
}

bool NorvoMediaStream::DisableBuffering() { return false; }

int NorvoMediaStream::sample_rate() const { return codec_ ? codec_->sample_rate : sample_rate_; }
int NorvoMediaStream::channels() const { return codec_ ? codec_->channels : channels_; }
bool NorvoMediaStream::transcoding() const { return codec_ && codec_->encoder_context; }
int NorvoMediaStream::frame_duration_ms() const { return codec_ ? codec_->frame_duration_ms : 0; }
int NorvoMediaStream::frame_count() const { return codec_ ? codec_->frame_count : 0; }

// ---------------------------------------------------------------------------------------------

NorvoFrameParser::NorvoFrameParser(FrameHandler on_frame) : on_frame_(std::move(on_frame)) {}

void NorvoFrameParser::Fail(const std::string& what) {
  if (error_.empty()) error_ = what + " at byte " + std::to_string(offset_);
}

bool NorvoFrameParser::Feed(const void* data, size_t len) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  while (len > 0) {
    if (marker_seen_) {
      bytes_after_marker_ += len;
      Fail("bytes after the end marker");
      offset_ += len;
      return false;
    }
    if (!error_.empty()) return false;
    if (!in_payload_) {
      const size_t n = std::min(len, NorvoMediaStream::kFrameHeaderSize - header_fill_);
      std::memcpy(header_ + header_fill_, in, n);
      header_fill_ += n;
      in += n;
      len -= n;
      offset_ += n;
      if (header_fill_ < NorvoMediaStream::kFrameHeaderSize) break;
      const uint8_t type = header_[0];
      frame_.length = GetBigEndian32(header_ + 1);
      frame_.time_stamp = static_cast<int32_t>(GetBigEndian32(header_ + 5));
      if (type == 0) {
        if (frame_.length != 1 || frame_.time_stamp != 0) {
          Fail("broken end marker");
          return false;
        }
      } else if (type != NorvoMediaStream::kAudioFrameType) {
        Fail("unknown frame type " + std::to_string(type));
        return false;
      } else if (frame_.length > NorvoMediaStream::kMaxFrameSize) {
        Fail("frame of " + std::to_string(frame_.length) + " bytes is too long");
        return false;
      }
      in_payload_ = true;
      payload_.clear();
    }
    const size_t n = std::min(len, static_cast<size_t>(frame_.length) - payload_.size());
    payload_.insert(payload_.end(), in, in + n);
    in += n;
    len -= n;
    offset_ += n;
    if (payload_.size() < frame_.length) break;
    in_payload_ = false;
    header_fill_ = 0;
    if (header_[0] == 0) {
      if (payload_[0] != 0) {
        Fail("broken end marker");
        return false;
      }
      marker_seen_ = true;
      continue;
    }
    if (frames_ == 0) first_stamp_ = frame_.time_stamp;
    last_stamp_ = frame_.time_stamp;
    ++frames_;
    frame_.payload = payload_.data();
    if (on_frame_) on_frame_(frame_);
  }
  return error_.empty();
}

bool NorvoFrameParser::Finish() {
  if (error_.empty()) {
    if (in_payload_) {
      Fail("stream ends inside a frame of " + std::to_string(frame_.length) + " bytes");
    } else if (header_fill_ > 0) {
      Fail("stream ends inside a frame header");
    } else if (!marker_seen_) {
      Fail("no end marker");
    }
  }
  return error_.empty();
}

}  // namespace talk_base
