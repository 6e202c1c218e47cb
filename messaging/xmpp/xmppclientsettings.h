// What the XMPP client needs to sign in.
#pragma once

#include <string>

#include "messaging/xmpp/xmppengine.h"

namespace buzz {

class XmppClientSettings {
 public:
  XmppClientSettings() = default;

  void set_user(const std::string& user) { user_ = user; }
  void set_host(const std::string& host) { host_ = host; }
  void set_pass(const std::string& pass) { pass_ = pass; }
  void set_auth_token(const std::string& mechanism, const std::string& token) {
    auth_mechanism_ = mechanism;
    auth_token_ = token;
  }
  void set_resource(const std::string& resource) { resource_ = resource; }
  void set_use_tls(TlsOptions use_tls) { use_tls_ = use_tls; }
  // true is TLS_ENABLED, false TLS_DISABLED.
  void set_use_tls(bool use_tls) { use_tls_ = use_tls ? TLS_ENABLED : TLS_DISABLED; }
  // Whether SASL may run on a stream that is not encrypted (only for loopback tests). TLS that is
  // enabled but not offered by the server then ends the sign-in with ERROR_TLS.
  void set_allow_plain(bool allow_plain) { allow_plain_ = allow_plain; }
  // The host and port to connect to; the stream's "to" is host() all the same.
  void set_server(const std::string& host, int port) {
    server_host_ = host;
    server_port_ = port;
  }

  const std::string& user() const { return user_; }
  const std::string& host() const { return host_; }
  const std::string& pass() const { return pass_; }
  const std::string& auth_mechanism() const { return auth_mechanism_; }
  const std::string& auth_token() const { return auth_token_; }
  const std::string& resource() const { return resource_; }
  TlsOptions use_tls() const { return use_tls_; }
  bool allow_plain() const { return allow_plain_; }
  // The server host, or host() when none was set.
  const std::string& server_host() const { return server_host_.empty() ? host_ : server_host_; }
  int server_port() const { return server_port_; }

 private:
  std::string user_;
  std::string host_;
  std::string pass_;
  std::string auth_mechanism_;
  std::string auth_token_;
  std::string resource_;
  TlsOptions use_tls_ = TLS_REQUIRED;
  bool allow_plain_ = false;
  std::string server_host_;
  int server_port_ = 5222;
};

}  // namespace buzz
