#include "messaging/xmpp/saslmechanism.h"

#include "messaging/base/base64.h"
#include "messaging/xmpp/constants.h"

namespace buzz {

std::unique_ptr<XmlElement> SaslMechanism::HandleSaslChallenge(const XmlElement* /*challenge*/) {
  // RFC 6120 6.4.3: an empty response is sent as "=".
  auto response = std::make_unique<XmlElement>(QN_SASL_RESPONSE, true);
  response->AddText("=");
  return response;
}

std::string SaslMechanism::Base64EncodeFromArray(const std::string& data) {
  if (data.empty()) return "=";
  return talk_base::Base64::Encode(data);
}

std::string SaslMechanism::Base64Decode(const std::string& text) {
  std::string out;
  if (text == "=" || text.empty()) return out;
  talk_base::Base64::Decode(text, &out);
  return out;
}

SaslPlainMechanism::SaslPlainMechanism(const Jid& jid, const std::string& password)
    : user_jid_(jid), password_(password) {}

std::string SaslPlainMechanism::GetMechanismName() const { return AUTH_MECHANISM_PLAIN; }

std::unique_ptr<XmlElement> SaslPlainMechanism::StartSaslAuth() {
  // RFC 4616: [authzid] NUL authcid NUL passwd; the authcid is the account's local part.
  auto auth = std::make_unique<XmlElement>(QN_SASL_AUTH, true);
  auth->SetAttr(QN_MECHANISM, AUTH_MECHANISM_PLAIN);
  std::string credentials;
  credentials += '\0';
  credentials += user_jid_.node();
  credentials += '\0';
  credentials += password_;
  auth->AddText(Base64EncodeFromArray(credentials));
  return auth;
}

SaslCookieMechanism::SaslCookieMechanism(const std::string& mechanism, const std::string& username,
                                         const std::string& cookie)
    : mechanism_(mechanism), username_(username), cookie_(cookie) {}

SaslCookieMechanism::SaslCookieMechanism(const std::string& mechanism, const std::string& username,
                                         const std::string& cookie,
                                         const std::string& token_service)
    : mechanism_(mechanism), username_(username), cookie_(cookie), token_service_(token_service) {}

std::unique_ptr<XmlElement> SaslCookieMechanism::StartSaslAuth() {
  auto auth = std::make_unique<XmlElement>(QN_SASL_AUTH, true);
  auth->SetAttr(QN_MECHANISM, mechanism_);
  if (!token_service_.empty()) auth->SetAttr(QN_GOOGLE_AUTH_SERVICE, token_service_);
  std::string credentials;
  credentials += '\0';
  credentials += username_;
  credentials += '\0';
  credentials += cookie_;
  auth->AddText(Base64EncodeFromArray(credentials));
  return auth;
}

}  // namespace buzz
