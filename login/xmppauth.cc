#include "login/xmppauth.h"

#include <algorithm>

#include "messaging/xmpp/constants.h"

namespace {

bool Offered(const std::vector<std::string>& mechanisms, const char* name) {
  return std::find(mechanisms.begin(), mechanisms.end(), name) != mechanisms.end();
}

}  // namespace

void XmppAuth::StartPreXmppAuth(const buzz::Jid& jid, const std::string& /*server_host*/,
                                int /*server_port*/, const std::string& pass,
                                const std::string& auth_mechanism, const std::string& auth_token) {
  jid_ = jid;
  passwd_ = pass;
  auth_mechanism_ = auth_mechanism;
  auth_token_ = auth_token;
  done_ = true;
  SignalAuthDone();
}

std::string XmppAuth::ChooseBestSaslMechanism(const std::vector<std::string>& mechanisms,
                                              bool /*encrypted*/) {
  if (!auth_token_.empty() && Offered(mechanisms, buzz::AUTH_MECHANISM_OAUTH2)) {
    return buzz::AUTH_MECHANISM_OAUTH2;
  }
  if (!auth_token_.empty() && Offered(mechanisms, buzz::AUTH_MECHANISM_GOOGLE_TOKEN)) {
    return buzz::AUTH_MECHANISM_GOOGLE_TOKEN;
  }
  if (Offered(mechanisms, buzz::AUTH_MECHANISM_PLAIN)) return buzz::AUTH_MECHANISM_PLAIN;
  return std::string();
}

std::unique_ptr<buzz::SaslMechanism> XmppAuth::CreateSaslMechanism(const std::string& mechanism) {
  if (mechanism == buzz::AUTH_MECHANISM_OAUTH2) {
    return std::make_unique<buzz::SaslCookieMechanism>(mechanism, jid_.Str(), auth_token_,
                                                       buzz::AUTH_TOKEN_SERVICE_OAUTH2);
  }
  if (mechanism == buzz::AUTH_MECHANISM_GOOGLE_TOKEN) {
    return std::make_unique<buzz::SaslCookieMechanism>(mechanism, jid_.Str(), auth_token_);
  }
  if (mechanism == buzz::AUTH_MECHANISM_PLAIN) {
    return std::make_unique<buzz::SaslPlainMechanism>(jid_, passwd_);
  }
  return nullptr;
}
