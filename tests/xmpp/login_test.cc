// Sign-in over TLS against the test ejabberd: certificate checks, SASL PLAIN and X-OAUTH2,
// refused credentials, a stanza round trip and a server-side kick.
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <optional>
#include <string>

#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/xmpptask.h"
#include "tests/server/test_server.h"
#include "tests/xmpp/session.h"

namespace {

using buzz::XmppEngine;

class LoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = norvo_test::LoadTestServer(&error);
    ASSERT_TRUE(server_) << error;
  }

  // The hub's settings: TLS required, no plain authentication on an unencrypted stream.
  buzz::XmppClientSettings Settings(const std::string& resource, int port) const {
    buzz::XmppClientSettings s;
    const buzz::Jid jid(server_->account("hub").jid);
    s.set_user(jid.node());
    s.set_host(jid.domain());
    s.set_resource(resource);
    s.set_use_tls(buzz::TLS_REQUIRED);
    s.set_allow_plain(false);
    s.set_server(server_->host, port);
    return s;
  }

  std::optional<norvo_test::TestServer> server_;
};

// Sends a ping to the server and waits for the answer.
class PingTask : public buzz::XmppTask {
 public:
  explicit PingTask(talk_base::TaskParent* parent) : XmppTask(parent, XmppEngine::HL_SINGLE) {}
  bool HandleStanza(const buzz::XmlElement* stanza) override {
    if (!MatchResponseIq(stanza, buzz::Jid(), task_id())) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    auto iq = MakeIq(buzz::STR_GET, buzz::Jid(), task_id());
    iq->AddElement(std::make_unique<buzz::XmlElement>(buzz::QN_PING, true));
    SendStanza(iq.get());
    return STATE_RESPONSE;
  }
  int ProcessResponse() override {
    const buzz::XmlElement* answer = NextStanza();
    if (answer == nullptr) return STATE_BLOCKED;
    *result = answer->Attr(buzz::QN_TYPE);
    GetClient()->Disconnect();
    return STATE_DONE;
  }
  std::string* result = nullptr;
};

TEST_F(LoginTest, SignsInOverVerifiedTls) {
  const norvo_test::TestAccount& hub = server_->account("hub");
  struct Case {
    const char* name;
    bool token;
  };
  for (const Case& c : {Case{"PLAIN", false}, Case{"X-OAUTH2", true}}) {
    SCOPED_TRACE(c.name);
    buzz::XmppClientSettings settings = Settings(std::string("login-ok-") + c.name, server_->port);
    if (c.token) {
      settings.set_auth_token(buzz::AUTH_MECHANISM_OAUTH2, hub.token);
    } else {
      settings.set_pass(hub.password);
    }
    xmpp_test::Session session;
    std::string ping_result;
    session.on_open = [&] {
      EXPECT_TRUE(session.client()->IsEncrypted());
      EXPECT_EQ(session.client()->jid().Str(), hub.jid + "/login-ok-" + c.name);
      auto* ping = new PingTask(session.client());
      ping->result = &ping_result;
      ping->Start();
    };
    session.Run(settings, true, server_->ca_file);
    EXPECT_EQ(session.error(), XmppEngine::ERROR_NONE);
    EXPECT_EQ(session.states,
              (std::vector<XmppEngine::State>{XmppEngine::STATE_START, XmppEngine::STATE_OPENING,
                                              XmppEngine::STATE_OPEN, XmppEngine::STATE_CLOSED}));
    EXPECT_EQ(ping_result, "result");
    EXPECT_NE(session.output.find(std::string("mechanism=\"") + c.name + "\""), std::string::npos);
    EXPECT_NE(session.output.find("</stream:stream>"), std::string::npos);
  }
}

TEST_F(LoginTest, RefusesWhatCannotBeTrustedOrIsWrong) {
  const norvo_test::TestAccount& hub = server_->account("hub");
  const norvo_test::TestAccount& other = server_->account("device");
  struct Case {
    const char* name;
    int port;
    bool trust_test_ca;
    std::string password;
    std::string token;
    XmppEngine::Error error;
    int subcode;  // for TLS: why the certificate was refused
  };
  const Case cases[] = {
      // A valid certificate, but for another name: refused, never silently accepted.
      {"certificate for another name", server_->wrong_name_port, true, hub.password, "",
       XmppEngine::ERROR_TLS, X509_V_ERR_HOSTNAME_MISMATCH},
      // The test CA is not in the system's store.
      {"untrusted CA", server_->port, false, hub.password, "", XmppEngine::ERROR_TLS,
       X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY},
      {"wrong password", server_->port, true, "not-" + hub.password, "",
       XmppEngine::ERROR_UNAUTHORIZED, 0},
      {"another account's token", server_->port, true, "", other.token,
       XmppEngine::ERROR_UNAUTHORIZED, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    buzz::XmppClientSettings settings = Settings("login-refused", c.port);
    settings.set_pass(c.password);
    if (!c.token.empty()) settings.set_auth_token(buzz::AUTH_MECHANISM_OAUTH2, c.token);
    xmpp_test::Session session;
    session.Run(settings, true, c.trust_test_ca ? server_->ca_file : std::string());
    int subcode = -1;
    EXPECT_EQ(session.error(&subcode), c.error);
    EXPECT_EQ(subcode, c.subcode);
    EXPECT_EQ(std::count(session.states.begin(), session.states.end(), XmppEngine::STATE_OPEN), 0);
    EXPECT_TRUE(session.close_events.empty());  // not a lost connection
    if (c.error == XmppEngine::ERROR_TLS) {
      // Nothing after <starttls/> went out: no credentials for an unverified peer.
      EXPECT_EQ(session.output.find("<auth"), std::string::npos);
      EXPECT_FALSE(session.client()->IsEncrypted());
    }
  }
}

TEST_F(LoginTest, AKickFromTheServerIsAStreamError) {
  buzz::XmppClientSettings settings = Settings("login-kicked", server_->port);
  settings.set_pass(server_->account("hub").password);
  xmpp_test::Session session;
  int kick_status = -1;
  session.on_open = [&] {
    kick_status = server_->RunCtl("kick_session hub localhost login-kicked test");
  };
  session.Run(settings, true, server_->ca_file);
  EXPECT_EQ(kick_status, 0);
  EXPECT_EQ(session.error(), XmppEngine::ERROR_STREAM);
  ASSERT_NE(session.client()->GetStreamError(), nullptr);
}

}  // namespace
