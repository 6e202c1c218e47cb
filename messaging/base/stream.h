// Byte streams.
#pragma once

#include <cstddef>

#include "messaging/sigslot/sigslot.h"

namespace talk_base {

enum StreamState { SS_CLOSED, SS_OPENING, SS_OPEN };

// SR_BLOCK: nothing available now, a SignalEvent with SE_READ/SE_WRITE follows.
enum StreamResult { SR_ERROR, SR_SUCCESS, SR_BLOCK, SR_EOS };

// Bit flags given to SignalEvent.
enum StreamEvent { SE_OPEN = 1, SE_READ = 2, SE_WRITE = 4, SE_CLOSE = 8 };

class StreamInterface {
 public:
  virtual ~StreamInterface() = default;
  StreamInterface(const StreamInterface&) = delete;
  StreamInterface& operator=(const StreamInterface&) = delete;

  virtual StreamState GetState() const = 0;
  // `read`/`written` and `error` may be null.
  virtual StreamResult Read(void* buffer, size_t buffer_len, size_t* read, int* error) = 0;
  virtual StreamResult Write(const void* data, size_t data_len, size_t* written, int* error) = 0;
  virtual void Close() = 0;

  // Optional capabilities; the defaults say "not supported".
  virtual bool SetPosition(size_t /*position*/) { return false; }
  virtual bool GetPosition(size_t* /*position*/) const { return false; }
  virtual bool GetSize(size_t* /*size*/) const { return false; }
  virtual bool GetAvailable(size_t* /*size*/) const { return false; }
  bool Rewind() { return SetPosition(0); }

  // Reads until `buffer_len` bytes, end of stream, block or error.
  StreamResult ReadAll(void* buffer, size_t buffer_len, size_t* read, int* error);
  StreamResult WriteAll(const void* data, size_t data_len, size_t* written, int* error);

  // (stream, events: StreamEvent bits, error)
  sigslot::signal3<StreamInterface*, int, int> SignalEvent;

 protected:
  StreamInterface() = default;
};

}  // namespace talk_base
