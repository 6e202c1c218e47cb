// The byte stream under the XMPP client: connect, read, write, start TLS, close.
//
// Implementations deliver their events on the thread that owns them (the client thread). Close()
// called by the owner emits nothing; SignalClosed reports only a close the owner did not ask for
// (the peer ended the connection, or connecting, reading or writing failed).
#pragma once

#include <cstddef>
#include <string>

#include "messaging/sigslot/sigslot.h"

namespace buzz {

class AsyncSocket {
 public:
  enum State {
    STATE_CLOSED = 0,
    STATE_CLOSING,
    STATE_CONNECTING,
    STATE_OPEN,
    STATE_TLS_CONNECTING,
    STATE_TLS_OPEN,
  };
  enum Error {
    ERROR_NONE = 0,
    ERROR_WINSOCK,     // a system error; GetError() holds the errno
    ERROR_DNS,         // the host name could not be resolved
    ERROR_WRONGSTATE,  // the call does not fit the socket's state
    ERROR_SSL,         // the TLS handshake failed or the certificate was refused
  };

  virtual ~AsyncSocket() = default;

  virtual State state() = 0;
  virtual Error error() = 0;
  virtual int GetError() = 0;  // errno-style subcode of the last error

  virtual bool Connect(const std::string& host, int port) = 0;
  // Copies up to `len` received bytes; *len_read is 0 when nothing is waiting.
  virtual bool Read(char* data, size_t len, size_t* len_read) = 0;
  // Queues all `len` bytes for sending.
  virtual bool Write(const char* data, size_t len) = 0;
  virtual bool Close() = 0;
  // Starts TLS on the open connection, verifying the certificate against `domainname`.
  virtual bool StartTls(const std::string& domainname) = 0;

  sigslot::signal0<> SignalConnected;
  sigslot::signal0<> SignalSSLConnected;
  sigslot::signal0<> SignalClosed;
  sigslot::signal0<> SignalRead;
  sigslot::signal0<> SignalError;
};

}  // namespace buzz
