#include "login/xmppsocket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <cerrno>

#include "login/xmppconfig.h"
#include "messaging/base/logging.h"
#include "messaging/base/thread.h"

using asio::ip::tcp;

namespace {

std::string OpenSslErrors() {
  std::string text;
  unsigned long e;
  while ((e = ERR_get_error()) != 0) {
    char buf[256];
    ERR_error_string_n(e, buf, sizeof(buf));
    if (!text.empty()) text += "; ";
    text += buf;
  }
  return text.empty() ? std::string("no detail") : text;
}

}  // namespace

// TLS runs on memory BIOs over our own non-blocking TCP writes: every byte handed to the kernel
// is accounted for, so a close can flush what is left without waiting for the loop.
struct XmppSocket::Impl : public std::enable_shared_from_this<Impl> {
  Impl(XmppSocket* o, asio::io_context* context, bool tls)
      : owner(o), io(context), tls_allowed(tls) {}

  ~Impl() { FreeTls(); }

  XmppSocket* owner;  // null once the XmppSocket is gone
  asio::io_context* io;
  const bool tls_allowed;
  std::string ca_file;

  std::unique_ptr<tcp::resolver> resolver;
  std::unique_ptr<tcp::socket> tcp_socket;

  SSL_CTX* ssl_ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* rbio = nullptr;  // ciphertext in (owned by ssl)
  BIO* wbio = nullptr;  // ciphertext out (owned by ssl)
  std::string tls_domain;

  State state = STATE_CLOSED;
  Error error = ERROR_NONE;
  int error_code = 0;

  char read_buffer[kReceiveBufferSize];
  std::string received;  // plain text waiting for Read()
  bool read_in_flight = false;

  std::string plain_pending;  // written during the handshake, encrypted once it is done
  std::string wire_pending;   // bytes for the kernel
  bool wait_in_flight = false;

  bool Live() const { return owner != nullptr && state != STATE_CLOSED; }

  void FreeTls() {
    if (ssl != nullptr) SSL_free(ssl);  // frees both BIOs
    if (ssl_ctx != nullptr) SSL_CTX_free(ssl_ctx);
    ssl = nullptr;
    ssl_ctx = nullptr;
    rbio = wbio = nullptr;
  }

  // The connection failed or the peer ended it: report it as a close we did not ask for.
  void Lost(const asio::error_code& ec, Error kind) {
    if (!Live()) return;
    const bool clean = ec == asio::error::eof;
    error = clean ? ERROR_NONE : kind;
    error_code = clean ? 0 : (kind == ERROR_DNS ? EHOSTUNREACH : ec.value());
    LOG(LS_INFO) << "XmppSocket::Impl::Lost - connection closed: "
                 << (clean ? std::string("by the peer") : ec.message());
    Shut();
    owner->SignalCloseEvent(error_code);
    if (owner != nullptr) owner->SignalClosed();
  }

  void Shut() {
    state = STATE_CLOSED;
    asio::error_code ignored;
    if (resolver) resolver->cancel();
    if (tcp_socket && tcp_socket->is_open()) {
      tcp_socket->shutdown(tcp::socket::shutdown_send, ignored);
      // Unread input would turn the close into a reset, which can cost the peer the last
      // bytes we sent; drop what is waiting first.
      char sink[4096];
      asio::error_code ec;
      while (tcp_socket->available(ec) > 0 && !ec) {
        tcp_socket->read_some(asio::buffer(sink), ec);
        if (ec) break;
      }
      tcp_socket->close(ignored);
    }
  }

  // --- connecting ---------------------------------------------------------------------------

  void Connect(const std::string& host, int port) {
    state = STATE_CONNECTING;
    resolver = std::make_unique<tcp::resolver>(*io);
    tcp_socket = std::make_unique<tcp::socket>(*io);
    auto self = shared_from_this();
    resolver->async_resolve(
        host, std::to_string(port),
        [self, host](const asio::error_code& ec, const tcp::resolver::results_type& results) {
          if (!self->Live()) return;
          if (ec) {
            LOG(LS_WARNING) << "XmppSocket::Connect - cannot resolve " << host << ": "
                            << ec.message();
            self->Lost(ec, ERROR_DNS);
            return;
          }
          asio::async_connect(*self->tcp_socket, results,
                              [self](const asio::error_code& cec, const tcp::endpoint&) {
                                self->OnConnected(cec);
                              });
        });
  }

  void OnConnected(const asio::error_code& ec) {
    if (!Live()) return;
    if (ec) {
      Lost(ec, ERROR_WINSOCK);
      return;
    }
    asio::error_code ignored;
    tcp_socket->set_option(tcp::no_delay(true), ignored);
    tcp_socket->non_blocking(true, ignored);
    state = STATE_OPEN;
    StartRead();
    owner->SignalConnected();
  }

  // --- reading ------------------------------------------------------------------------------

  void StartRead() {
    if (!Live() || read_in_flight) return;
    read_in_flight = true;
    auto self = shared_from_this();
    tcp_socket->async_read_some(asio::buffer(read_buffer),
                                [self](const asio::error_code& ec, size_t n) {
                                  self->read_in_flight = false;
                                  self->OnRead(ec, n);
                                });
  }

  void OnRead(const asio::error_code& ec, size_t n) {
    if (!Live()) return;
    if (ec) {
      Lost(ec, ERROR_WINSOCK);
      return;
    }
    if (ssl == nullptr) {
      received.append(read_buffer, n);
      owner->SignalRead();
      StartRead();
      return;
    }
    BIO_write(rbio, read_buffer, static_cast<int>(n));
    if (state == STATE_TLS_CONNECTING) {
      Handshake();
    } else {
      DecryptAvailable();
    }
    StartRead();
  }

  void DecryptAvailable() {
    bool got = false;
    for (;;) {
      const int r = SSL_read(ssl, read_buffer, sizeof(read_buffer));
      if (r > 0) {
        received.append(read_buffer, static_cast<size_t>(r));
        got = true;
        continue;
      }
      const int err = SSL_get_error(ssl, r);
      if (err == SSL_ERROR_WANT_READ) break;
      FlushCipher();
      if (got && owner != nullptr) owner->SignalRead();
      if (err == SSL_ERROR_ZERO_RETURN) {
        Lost(asio::error::eof, ERROR_WINSOCK);  // close_notify: a clean end
      } else {
        LOG(LS_WARNING) << "XmppSocket::DecryptAvailable - TLS error: " << OpenSslErrors();
        Lost(asio::error::connection_reset, ERROR_SSL);
      }
      return;
    }
    FlushCipher();  // a read may produce output (key updates)
    if (got && Live()) owner->SignalRead();
  }

  // --- writing ------------------------------------------------------------------------------

  void SendPlain(const char* data, size_t len) {
    if (ssl == nullptr) {
      wire_pending.append(data, len);
      TrySend();
      return;
    }
    if (state == STATE_TLS_CONNECTING) {
      plain_pending.append(data, len);
      return;
    }
    // Memory BIOs take everything at once.
    if (len > 0 && SSL_write(ssl, data, static_cast<int>(len)) <= 0) {
      LOG(LS_WARNING) << "XmppSocket::SendPlain - TLS error: " << OpenSslErrors();
    }
    FlushCipher();
  }

  void FlushCipher() {
    if (wbio == nullptr) return;
    char buf[4096];
    int n;
    while ((n = BIO_read(wbio, buf, sizeof(buf))) > 0) wire_pending.append(buf, n);
    TrySend();
  }

  // Hands what it can to the kernel now; the rest waits until the socket is writable. With
  // `closing` nothing waits and nothing is reported: our own close follows.
  void TrySend(bool closing = false) {
    while (Live() && !wire_pending.empty()) {
      asio::error_code ec;
      const size_t n = tcp_socket->write_some(asio::buffer(wire_pending), ec);
      if (ec == asio::error::would_block || ec == asio::error::try_again) {
        if (!closing) WaitWritable();
        return;
      }
      if (ec) {
        if (!closing) Lost(ec, ERROR_WINSOCK);
        return;
      }
      wire_pending.erase(0, n);
    }
  }

  void WaitWritable() {
    if (wait_in_flight) return;
    wait_in_flight = true;
    auto self = shared_from_this();
    tcp_socket->async_wait(tcp::socket::wait_write, [self](const asio::error_code& ec) {
      self->wait_in_flight = false;
      if (!self->Live()) return;
      if (ec) {
        self->Lost(ec, ERROR_WINSOCK);
        return;
      }
      self->TrySend();
    });
  }

  // --- TLS ----------------------------------------------------------------------------------

  bool StartTls(const std::string& domain) {
    if (!tls_allowed || state != STATE_OPEN || ssl != nullptr) {
      error = ERROR_WRONGSTATE;
      return false;
    }
    ssl_ctx = SSL_CTX_new(TLS_client_method());
    if (ssl_ctx == nullptr) return FailSetup("SSL_CTX_new");
    SSL_CTX_set_min_proto_version(ssl_ctx, TLS1_2_VERSION);
    if (SSL_CTX_set_default_verify_paths(ssl_ctx) != 1) {
      LOG(LS_WARNING) << "XmppSocket::StartTls - no system trust store: " << OpenSslErrors();
    }
    if (!ca_file.empty() && SSL_CTX_load_verify_locations(ssl_ctx, ca_file.c_str(), nullptr) != 1) {
      LOG(LS_ERROR) << "XmppSocket::StartTls - cannot load the CA file " << ca_file << ": "
                    << OpenSslErrors();
      return FailSetup(nullptr);
    }
    SSL_CTX_set_verify(ssl_ctx, SSL_VERIFY_PEER, nullptr);
    ssl = SSL_new(ssl_ctx);
    if (ssl == nullptr) return FailSetup("SSL_new");
    rbio = BIO_new(BIO_s_mem());
    wbio = BIO_new(BIO_s_mem());
    if (rbio == nullptr || wbio == nullptr) {
      BIO_free(rbio);
      BIO_free(wbio);
      rbio = wbio = nullptr;
      return FailSetup("BIO_new");
    }
    SSL_set_bio(ssl, rbio, wbio);
    // The certificate must name the XMPP domain (a host name, or an IP address literal).
    asio::error_code addr_ec;
    asio::ip::make_address(domain, addr_ec);
    if (addr_ec) {
      SSL_set_tlsext_host_name(ssl, domain.c_str());
      SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      if (SSL_set1_host(ssl, domain.c_str()) != 1) return FailSetup("SSL_set1_host");
    } else if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), domain.c_str()) != 1) {
      return FailSetup("X509_VERIFY_PARAM_set1_ip_asc");
    }
    SSL_set_connect_state(ssl);
    tls_domain = domain;
    received.clear();  // nothing may come in the clear after <proceed/>
    state = STATE_TLS_CONNECTING;
    // Start after the current event: the caller is still handling the plain text.
    auto self = shared_from_this();
    asio::post(*io, [self] {
      if (self->Live() && self->state == STATE_TLS_CONNECTING) self->Handshake();
    });
    return true;
  }

  bool FailSetup(const char* what) {
    if (what != nullptr) {
      LOG(LS_ERROR) << "XmppSocket::StartTls - " << what << " failed: " << OpenSslErrors();
    }
    FreeTls();
    error = ERROR_SSL;
    return false;
  }

  void Handshake() {
    const int r = SSL_do_handshake(ssl);
    FlushCipher();
    if (!Live()) return;
    if (r == 1) {
      state = STATE_TLS_OPEN;
      LOG(LS_INFO) << "XmppSocket::Handshake - TLS with " << tls_domain << " ("
                   << SSL_get_version(ssl) << ")";
      std::string queued;
      queued.swap(plain_pending);
      SendPlain(queued.data(), queued.size());
      if (!Live()) return;
      owner->SignalSSLConnected();
      // Application data may have come with the end of the handshake.
      if (Live()) DecryptAvailable();
      return;
    }
    const int err = SSL_get_error(ssl, r);
    if (err == SSL_ERROR_WANT_READ) return;
    const long verify = SSL_get_verify_result(ssl);
    LOG(LS_ERROR) << "XmppSocket::Handshake - TLS with " << tls_domain
                  << " failed: " << OpenSslErrors() << "; certificate: "
                  << (verify == X509_V_OK ? "accepted" : X509_verify_cert_error_string(verify));
    error = ERROR_SSL;
    error_code = verify != X509_V_OK ? static_cast<int>(verify) : EPROTO;
    Shut();
    // Not a lost connection: the client reports it as a TLS failure.
    owner->SignalError();
  }
};

XmppSocket::XmppSocket(bool tls) {
  talk_base::Thread* thread = talk_base::Thread::Current();
  impl_ = std::make_shared<Impl>(this, thread != nullptr ? &thread->io_context() : nullptr, tls);
  impl_->ca_file = norvo_login::CaFileFromEnvironment();
}

XmppSocket::~XmppSocket() {
  impl_->owner = nullptr;
  impl_->Shut();
}

void XmppSocket::set_ca_file(const std::string& path) { impl_->ca_file = path; }

buzz::AsyncSocket::State XmppSocket::state() { return impl_->state; }

buzz::AsyncSocket::Error XmppSocket::error() { return impl_->error; }

int XmppSocket::GetError() { return impl_->error_code; }

bool XmppSocket::Connect(const std::string& host, int port) {
  if (impl_->io == nullptr) {
    LOG(LS_ERROR) << "XmppSocket::Connect - no current thread to run the connection on";
    impl_->error = ERROR_WRONGSTATE;
    impl_->error_code = ENOTCONN;
    return false;
  }
  if (impl_->state != STATE_CLOSED || impl_->tcp_socket) {
    impl_->error = ERROR_WRONGSTATE;
    return false;
  }
  if (host.empty() || port < 1 || port > 65535) {
    impl_->error = ERROR_DNS;
    impl_->error_code = EINVAL;
    return false;
  }
  impl_->Connect(host, port);
  return true;
}

bool XmppSocket::Read(char* data, size_t len, size_t* len_read) {
  const size_t n = std::min(len, impl_->received.size());
  if (n > 0) {
    impl_->received.copy(data, n);
    impl_->received.erase(0, n);
  }
  if (len_read != nullptr) *len_read = n;
  return true;
}

bool XmppSocket::Write(const char* data, size_t len) {
  const State s = impl_->state;
  if (s != STATE_OPEN && s != STATE_TLS_OPEN && s != STATE_TLS_CONNECTING) {
    impl_->error = ERROR_WRONGSTATE;
    return false;
  }
  impl_->SendPlain(data, len);
  return true;
}

bool XmppSocket::Close() {
  if (impl_->state == STATE_CLOSED) return true;
  // What the kernel takes now still goes out (the closing </stream:stream>); the loop may not
  // run again to send the rest.
  if (impl_->ssl != nullptr && impl_->state == STATE_TLS_OPEN) {
    SSL_shutdown(impl_->ssl);  // close_notify
    char buf[4096];
    int n;
    while ((n = BIO_read(impl_->wbio, buf, sizeof(buf))) > 0) impl_->wire_pending.append(buf, n);
  }
  impl_->TrySend(true);
  impl_->Shut();
  return true;
}

bool XmppSocket::StartTls(const std::string& domainname) { return impl_->StartTls(domainname); }
