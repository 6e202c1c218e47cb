// The hub's SASL handler: no pre-authentication round trip; X-OAUTH2 with the access token when
// there is one, else PLAIN with the password.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/prexmppauth.h"
#include "messaging/xmpp/saslmechanism.h"

class XmppAuth : public buzz::PreXmppAuth {
 public:
  XmppAuth() = default;
  ~XmppAuth() override = default;

  // Stores the credentials, and reports done at once (SignalAuthDone inside the call).
  void StartPreXmppAuth(const buzz::Jid& jid, const std::string& server_host, int server_port,
                        const std::string& pass, const std::string& auth_mechanism,
                        const std::string& auth_token) override;
  bool IsAuthDone() const override { return done_; }
  bool IsAuthorized() const override { return done_; }
  bool HadError() const override { return false; }
  int GetError() const override { return 0; }
  std::string GetAuthMechanism() const override { return auth_mechanism_; }
  std::string GetAuthToken() const override { return auth_token_; }

  // First match wins: "X-OAUTH2" or else "X-GOOGLE-TOKEN" when offered and a token is set,
  // then "PLAIN" when offered; otherwise the empty text.
  std::string ChooseBestSaslMechanism(const std::vector<std::string>& mechanisms,
                                      bool encrypted) override;
  std::unique_ptr<buzz::SaslMechanism> CreateSaslMechanism(const std::string& mechanism) override;

 private:
  buzz::Jid jid_;
  std::string passwd_;
  std::string auth_mechanism_;
  std::string auth_token_;
  bool done_ = false;
};
