// The byte stream a device's player receives as the HTTP body of a song.
//
// NorvoMediaStream opens an audio file with FFmpeg and turns it into a run of length-prefixed,
// time-stamped audio frames:
//
//   frame:  01 | payload length (u32, big-endian) | time stamp in ms (i32, big-endian) | payload
//   end:    00 00 00 00 01 00 00 00 00 00
//
// MP3 and MP2 audio is decoded and re-encoded to raw AAC frames (no ADTS header) at the source's
// sample rate, channel count and bit rate; AAC and every other codec is passed through packet by
// packet as the demuxer delivers it. The stream is read-only and cannot be rewound; a start
// position in whole seconds is applied once, when the file is opened.
//
// Everything is allocated when the stream opens: Read only decodes, encodes and copies, and
// never blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "messaging/base/stream.h"
#include "messaging/sigslot/sigslot.h"

struct AVFrame;

namespace talk_base {

struct MediaStreamCodecState;

class NorvoMediaStream : public StreamInterface, public sigslot::has_slots<> {
 public:
  // The framing of the byte stream.
  static constexpr uint8_t kAudioFrameType = 0x01;
  static constexpr size_t kFrameHeaderSize = 9;
  static constexpr size_t kEndMarkerSize = 10;
  static const uint8_t kEndMarker[kEndMarkerSize];
  // No frame is ever larger: a bigger demuxed packet ends the stream.
  static constexpr size_t kMaxFrameSize = 1024000;
  // What GetSize and GetAvailable report: the stream has no known size.
  static constexpr size_t kUnknownSize = 0xFFFFFFFFu;
  // A Read stops packing further frames once this many bytes or fewer are left in the buffer.
  static constexpr size_t kMinFreeSpace = 1024;
  // Start positions above this would overflow the 32-bit millisecond time stamps.
  static constexpr int kMaxStartPosition = 2147483;

  // The audio values are defaults until the opened file supplies its own; only the sample rate
  // and the channel count are used.
  NorvoMediaStream(const std::string& file_name, int sample_rate, int bit_rate, int channels,
                   int duration);
  ~NorvoMediaStream() override;

  StreamState GetState() const override;
  // Success with a count (0 when `buffer_len` is below 9 or the end marker does not fit yet),
  // end-of-stream once the end marker has been delivered, error for a stream that is not open.
  StreamResult Read(void* buffer, size_t buffer_len, size_t* read, int* error) override;
  // Always an error: the stream is read-only.
  StreamResult Write(const void* data, size_t data_len, size_t* written, int* error) override;
  // Releases everything; safe to call more than once.
  void Close() override;
  bool SetPosition(size_t position) override;
  // Payload bytes of the frames delivered whole.
  bool GetPosition(size_t* position) const override;
  bool GetSize(size_t* size) const override;
  bool GetAvailable(size_t* size) const override;
  bool Flush();

  // Opens `file_name` for streaming from `start_position` seconds (mode "rb"); mode "hubclient"
  // only prepares the codec state without a file. Returns false when the file cannot be
  // streamed. A stream that was open before is closed first.
  bool Open(const std::string& file_name, const char* mode, int start_position);
  bool Open(const std::string& file_name, const char* mode);
  bool OpenShare(const std::string& file_name, const char* mode, int share_flags);
  bool DisableBuffering();

  // What the opened file gave (the constructor's values until then).
  int sample_rate() const;
  int channels() const;
  // True when MP3/MP2 audio is re-encoded to AAC; false for pass-through.
  bool transcoding() const;
  // How far each frame's time stamp advances: 0 in pass-through.
  int frame_duration_ms() const;
  // Whole frames delivered so far.
  int frame_count() const;
  // The session's bit rate and duration hints, as given to the constructor; the stream itself
  // takes the bit rate from the file and runs to the end of the audio.
  int bit_rate_hint() const { return bit_rate_; }
  int duration_hint() const { return duration_; }

 protected:
  // Called by Close before the codec state is released.
  virtual void OnClose() {}

 private:
  bool InternalInit(bool owns_input);
  bool OpenInput();
  bool OpenTranscoder();
  // Produces the payload of the next frame; false at the end of the audio.
  bool NextFrame(const uint8_t** payload, size_t* size);
  bool NextPassThroughFrame(const uint8_t** payload, size_t* size);
  bool NextTranscodedFrame(const uint8_t** payload, size_t* size);
  // Moves decoded audio into the sample FIFO, feeding the decoder a packet when it needs one.
  void DecodeMore();
  bool QueuePcm(const AVFrame* frame);
  void EncodeFromFifo();

  StreamState state_ = SS_CLOSED;
  bool owns_input_ = false;
  bool end_of_stream_ = false;
  int start_position_ = 0;
  int sample_rate_;
  int bit_rate_;
  int channels_;
  int duration_;
  std::string file_name_;
  std::unique_ptr<MediaStreamCodecState> codec_;
};

// One frame of a song stream, as NorvoFrameParser hands it out.
struct NorvoStreamFrame {
  uint32_t length = 0;
  int32_t time_stamp = 0;
  // `length` bytes, valid during the callback only.
  const uint8_t* payload = nullptr;
};

// Checks and splits a song stream fed in pieces of any size: the reading side of the framing,
// for the `norvo frames` tool, tests and benchmarks. It holds at most one frame's payload.
class NorvoFrameParser {
 public:
  using FrameHandler = std::function<void(const NorvoStreamFrame&)>;
  explicit NorvoFrameParser(FrameHandler on_frame);

  // Returns false once the bytes so far are not a song stream; the parser then stays failed.
  // Bytes after the end marker make the stream malformed but are still counted.
  bool Feed(const void* data, size_t len);
  // Call at the end of the input: true when the whole input was well formed and ended with the
  // end marker.
  bool Finish();

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  bool end_marker_seen() const { return marker_seen_; }
  size_t bytes_after_marker() const { return bytes_after_marker_; }
  uint64_t frames() const { return frames_; }
  int32_t first_time_stamp() const { return first_stamp_; }
  int32_t last_time_stamp() const { return last_stamp_; }
  uint64_t offset() const { return offset_; }

 private:
  void Fail(const std::string& what);

  FrameHandler on_frame_;
  uint8_t header_[NorvoMediaStream::kEndMarkerSize] = {};
  size_t header_fill_ = 0;
  bool in_payload_ = false;
  NorvoStreamFrame frame_;
  std::vector<uint8_t> payload_;
  bool marker_seen_ = false;
  size_t bytes_after_marker_ = 0;
  uint64_t frames_ = 0;
  int32_t first_stamp_ = 0;
  int32_t last_stamp_ = 0;
  uint64_t offset_ = 0;
  std::string error_;
};

}  // namespace talk_base
