// SASL mechanisms (RFC 6120 section 6): each builds the <auth/> element that starts it and
// answers the server's challenges.
#pragma once

#include <memory>
#include <string>

#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/xmlelement.h"

namespace buzz {

class SaslMechanism {
 public:
  virtual ~SaslMechanism() = default;
  virtual std::string GetMechanismName() const = 0;
  // The <auth xmlns="urn:ietf:params:xml:ns:xmpp-sasl" mechanism="..."> element.
  virtual std::unique_ptr<XmlElement> StartSaslAuth() = 0;
  // The <response/> to a <challenge/>; the default answers with an empty response.
  virtual std::unique_ptr<XmlElement> HandleSaslChallenge(const XmlElement* challenge);
  // The server reported <success/>; its additional data, if any, is in `success`.
  virtual void HandleSaslSuccess(const XmlElement* /*success*/) {}
  virtual void HandleSaslFailure(const XmlElement* /*failure*/) {}

  // Base64 helpers for the element texts; "=" stands for an empty payload.
  static std::string Base64EncodeFromArray(const std::string& data);
  static std::string Base64Decode(const std::string& text);
};

// PLAIN (RFC 4616): authzid empty, authcid = the node of `jid`, the password.
class SaslPlainMechanism : public SaslMechanism {
 public:
  SaslPlainMechanism(const Jid& jid, const std::string& password);
  std::string GetMechanismName() const override;
  std::unique_ptr<XmlElement> StartSaslAuth() override;

 private:
  Jid user_jid_;
  std::string password_;
};

// The token mechanisms (X-OAUTH2, X-GOOGLE-TOKEN): the text is Base64 of a zero byte, `username`
// (the account's address as the client knows it before binding: node@domain), a zero byte and
// the token. With a token service the element carries service="<token_service>" in the Google
// auth protocol namespace (NS_GOOGLE_AUTH_PROTOCOL).
class SaslCookieMechanism : public SaslMechanism {
 public:
  SaslCookieMechanism(const std::string& mechanism, const std::string& username,
                      const std::string& cookie);
  SaslCookieMechanism(const std::string& mechanism, const std::string& username,
                      const std::string& cookie, const std::string& token_service);
  std::string GetMechanismName() const override { return mechanism_; }
  std::unique_ptr<XmlElement> StartSaslAuth() override;

 private:
  std::string mechanism_;
  std::string username_;
  std::string cookie_;
  std::string token_service_;
};

}  // namespace buzz
