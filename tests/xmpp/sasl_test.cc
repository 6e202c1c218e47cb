// Mechanism choice and the auth elements the mechanisms send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "login/xmppauth.h"
#include "messaging/base/base64.h"
#include "messaging/xmpp/constants.h"

namespace {

TEST(XmppAuthTest, ChoosesTheBestOfferedMechanism) {
  struct Case {
    std::vector<std::string> offered;
    std::string token;
    std::string expected;
  };
  const Case cases[] = {
      {{"PLAIN", "X-OAUTH2"}, "tok", "X-OAUTH2"},
      {{"X-GOOGLE-TOKEN", "X-OAUTH2"}, "tok", "X-OAUTH2"},
      {{"X-GOOGLE-TOKEN", "PLAIN"}, "tok", "X-GOOGLE-TOKEN"},
      {{"PLAIN", "X-OAUTH2"}, "", "PLAIN"},
      {{"X-OAUTH2"}, "", ""},  // a token mechanism without a token is no choice
      {{"SCRAM-SHA-1", "DIGEST-MD5"}, "tok", ""},
      {{}, "tok", ""},
      {{"plain", "x-oauth2"}, "tok", ""},  // mechanism names are case sensitive
  };
  for (const Case& c : cases) {
    XmppAuth auth;
    auth.StartPreXmppAuth(buzz::Jid("hub@localhost"), "localhost", 5222, "pw",
                          c.token.empty() ? "" : buzz::AUTH_MECHANISM_OAUTH2, c.token);
    EXPECT_EQ(auth.ChooseBestSaslMechanism(c.offered, true), c.expected)
        << "token '" << c.token << "', offered " << c.offered.size();
  }
}

TEST(XmppAuthTest, IsDoneAtOnce) {
  struct Listener : sigslot::has_slots<> {
    int done = 0;
    void OnDone() { ++done; }
  } listener;
  XmppAuth auth;
  auth.SignalAuthDone.connect(&listener, &Listener::OnDone);
  EXPECT_FALSE(auth.IsAuthDone());
  auth.StartPreXmppAuth(buzz::Jid("hub@localhost"), "h", 1, "pw", "X-OAUTH2", "tok");
  EXPECT_EQ(listener.done, 1);
  EXPECT_TRUE(auth.IsAuthDone());
  EXPECT_EQ(auth.GetAuthToken(), "tok");
  EXPECT_EQ(auth.GetAuthMechanism(), "X-OAUTH2");
}

TEST(XmppAuthTest, CreatesTheExactAuthElements) {
  XmppAuth auth;
  auth.StartPreXmppAuth(buzz::Jid("hub@localhost"), "localhost", 5222, "p\xC3\xA4ss", "X-OAUTH2",
                        "ya29.token");
  struct Case {
    std::string mechanism;
    std::string element;
  };
  const std::string oauth_payload =
      talk_base::Base64::Encode(std::string("\0hub@localhost\0ya29.token", 25));
  const std::string plain_payload =
      talk_base::Base64::Encode(std::string("\0hub\0p\xC3\xA4ss", 10));
  const Case cases[] = {
      {"X-OAUTH2",
       "<auth xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\""
       " xmlns:ga=\"http://www.google.com/talk/protocol/auth\" mechanism=\"X-OAUTH2\""
       " ga:service=\"oauth2\">" +
           oauth_payload + "</auth>"},
      {"X-GOOGLE-TOKEN",
       "<auth xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\" mechanism=\"X-GOOGLE-TOKEN\">" +
           oauth_payload + "</auth>"},
      {"PLAIN", "<auth xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\" mechanism=\"PLAIN\">" +
                    plain_payload + "</auth>"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<buzz::SaslMechanism> mech = auth.CreateSaslMechanism(c.mechanism);
    ASSERT_TRUE(mech) << c.mechanism;
    EXPECT_EQ(mech->GetMechanismName(), c.mechanism);
    EXPECT_EQ(mech->StartSaslAuth()->Str(), c.element);
  }
  EXPECT_FALSE(auth.CreateSaslMechanism("DIGEST-MD5"));
  EXPECT_FALSE(auth.CreateSaslMechanism(""));
}

TEST(SaslMechanismTest, EmptyPayloadsAreWrittenAsEquals) {
  EXPECT_EQ(buzz::SaslMechanism::Base64EncodeFromArray(""), "=");
  EXPECT_EQ(buzz::SaslMechanism::Base64Decode("="), "");
  EXPECT_EQ(buzz::SaslMechanism::Base64Decode("aGk="), "hi");
  buzz::SaslPlainMechanism plain(buzz::Jid("a@b"), "x");
  std::unique_ptr<buzz::XmlElement> response = plain.HandleSaslChallenge(nullptr);
  EXPECT_EQ(response->Str(), "<response xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\">=</response>");
}

}  // namespace
