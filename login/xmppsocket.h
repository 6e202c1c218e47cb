// The TCP (and TLS) connection under the XMPP client, on the current thread's Asio loop.
//
// Create it on the client thread (its events are delivered on that thread's loop). With `tls` on,
// the client can start TLS on it after STARTTLS: the server's certificate must chain to the
// system's trust store or to the extra CA file (NORVO_XMPP_CA_FILE, or set_ca_file), and must name
// the server's domain; otherwise the handshake fails and the socket reports ERROR_SSL (the client
// ends the sign-in with ERROR_TLS). SignalCloseEvent carries the errno when the connection fails
// or is lost (0 when the peer closed it cleanly); a Close() of our own signals nothing.
#pragma once

#include <memory>
#include <string>

#include "messaging/sigslot/sigslot.h"
#include "messaging/xmpp/asyncsocket.h"

class XmppSocket : public buzz::AsyncSocket, public sigslot::has_slots<> {
 public:
  explicit XmppSocket(bool tls);
  ~XmppSocket() override;

  // An extra PEM file of trusted CA certificates (replaces the one from the environment).
  void set_ca_file(const std::string& path);

  State state() override;
  Error error() override;
  int GetError() override;

  bool Connect(const std::string& host, int port) override;
  bool Read(char* data, size_t len, size_t* len_read) override;
  bool Write(const char* data, size_t len) override;
  bool Close() override;
  bool StartTls(const std::string& domainname) override;

  sigslot::signal1<int> SignalCloseEvent;

  // Size of one read from the connection.
  static constexpr size_t kReceiveBufferSize = 4096;

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};
