// The client's stream negotiation and stanza handling against a scripted loopback server
// (no TLS here; TLS is covered against the real server in login_test.cc).
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "login/xmppauth.h"
#include "login/xmpppump.h"
#include "login/xmppsocket.h"
#include "messaging/base/thread.h"
#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/xmppclient.h"
#include "messaging/xmpp/xmpptask.h"
#include "tests/xmpp/scripted_server.h"
#include "tests/xmpp/session.h"

namespace {

using buzz::XmppEngine;
using xmpp_test::CloseConnection;
using xmpp_test::Expect;
using xmpp_test::Send;
using xmpp_test::ServerHeader;
using xmpp_test::Session;

buzz::XmppClientSettings LoopbackSettings(int port) {
  buzz::XmppClientSettings s;
  s.set_user("hub");
  s.set_host("localhost");
  s.set_resource("norvo.pc");
  s.set_pass("pw");
  s.set_use_tls(buzz::TLS_DISABLED);
  s.set_allow_plain(true);
  s.set_server("127.0.0.1", port);
  return s;
}

const std::string kPlainFeatures =
    "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
    "<mechanism>SCRAM-SHA-1</mechanism><mechanism>PLAIN</mechanism></mechanisms>"
    "</stream:features>";
const std::string kBindFeatures =
    "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
    "<session xmlns='urn:ietf:params:xml:ns:xmpp-session'/></stream:features>";
// "\0hub\0pw"
const std::string kPlainAuth = "mechanism=\"PLAIN\">AGh1YgBwdw==</auth>";

// The script of a sign-in up to the open stream (ids are the client's first two: 1 and 2).
std::vector<xmpp_test::Step> SignInScript() {
  return {Expect("<stream:stream to=\"localhost\" version=\"1.0\""),
          Send(ServerHeader() + kPlainFeatures),
          Expect(kPlainAuth),
          Send("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>"),
          Expect("<stream:stream"),
          Send(ServerHeader("s2") + kBindFeatures),
          Expect("<resource>norvo.pc</resource></bind></iq>"),
          Send("<iq type='result' id='1'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
               "<jid>hub@localhost/norvo.pc</jid></bind></iq>"),
          Expect("<session xmlns=\"urn:ietf:params:xml:ns:xmpp-session\"/></iq>"),
          Send("<iq type='result' id='2'/>")};
}

std::vector<xmpp_test::Step> Concat(std::vector<xmpp_test::Step> a,
                                    const std::vector<xmpp_test::Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(XmppClientTest, NegotiationFailuresEndWithTheirErrors) {
  const std::string header = ServerHeader();
  struct Case {
    const char* name;
    std::vector<xmpp_test::Step> script;
    buzz::TlsOptions tls;
    bool allow_plain;
    XmppEngine::Error error;
    const char* client_sends;  // what the client must have sent (or null)
  };
  const Case cases[] = {
      {"garbage",
       {Expect("<stream:stream"), Send("HTTP/1.1 400 Bad Request\r\n\r\n")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_XML,
       "not-well-formed"},
      {"immediate close",
       {CloseConnection()},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_SOCKET,
       nullptr},
      {"stream error",
       {Expect("<stream:stream"),
        Send(header + "<stream:error><host-unknown xmlns='urn:ietf:params:xml:ns:xmpp-streams'/>"
                      "</stream:error></stream:stream>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_STREAM,
       nullptr},
      {"old version",
       {Expect("<stream:stream"), Send("<stream:stream xmlns='jabber:client' "
                                       "xmlns:stream='http://etherx.jabber.org/streams' id='x'>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_VERSION,
       "unsupported-version"},
      {"not a stream",
       {Expect("<stream:stream"), Send("<html xmlns='http://www.w3.org/1999/xhtml'>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_XML,
       "invalid-namespace"},
      {"TLS required, none offered",
       {Expect("<stream:stream"), Send(header + kPlainFeatures)},
       buzz::TLS_REQUIRED,
       true,
       XmppEngine::ERROR_TLS,
       "policy-violation"},
      {"TLS enabled, none offered, no plain",
       {Expect("<stream:stream"), Send(header + kPlainFeatures)},
       buzz::TLS_ENABLED,
       false,
       XmppEngine::ERROR_TLS,
       "policy-violation"},
      {"no TLS and no plain",
       {Expect("<stream:stream"), Send(header + kPlainFeatures)},
       buzz::TLS_DISABLED,
       false,
       XmppEngine::ERROR_TLS,
       "policy-violation"},
      {"TLS refused",
       {Expect("<stream:stream"),
        Send(header + "<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>"
                      "</stream:features>"),
        Expect("<starttls xmlns=\"urn:ietf:params:xml:ns:xmpp-tls\"/>"),
        Send("<failure xmlns='urn:ietf:params:xml:ns:xmpp-tls'/></stream:stream>")},
       buzz::TLS_ENABLED,
       false,
       XmppEngine::ERROR_TLS,
       nullptr},
      {"credentials refused",
       {Expect("<stream:stream"), Send(header + kPlainFeatures), Expect(kPlainAuth),
        Send("<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><not-authorized/></failure>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_UNAUTHORIZED,
       "</stream:stream>"},
      {"SASL aborted",
       {Expect("<stream:stream"), Send(header + kPlainFeatures), Expect(kPlainAuth),
        Send("<failure xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><aborted/></failure>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_AUTH,
       nullptr},
      {"no common mechanism",
       {Expect("<stream:stream"),
        Send(header + "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
                      "<mechanism>SCRAM-SHA-1</mechanism></mechanisms></stream:features>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_AUTH,
       nullptr},
      {"bind refused",
       {Expect("<stream:stream"), Send(header + kPlainFeatures), Expect(kPlainAuth),
        Send("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>"), Expect("<stream:stream"),
        Send(header + kBindFeatures), Expect("</bind></iq>"),
        Send("<iq type='error' id='1'><error type='cancel'><not-allowed "
             "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_BIND,
       nullptr},
      {"no bind offered",
       {Expect("<stream:stream"), Send(header + kPlainFeatures), Expect(kPlainAuth),
        Send("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>"), Expect("<stream:stream"),
        Send(header + "<stream:features/>")},
       buzz::TLS_DISABLED,
       true,
       XmppEngine::ERROR_BIND,
       "unsupported-feature"},
      {"server ends the stream", Concat(SignInScript(), {Send("</stream:stream>")}),
       buzz::TLS_DISABLED, true, XmppEngine::ERROR_DOCUMENT_CLOSED, "</stream:stream>"},
      {"server drops the connection", Concat(SignInScript(), {CloseConnection()}),
       buzz::TLS_DISABLED, true, XmppEngine::ERROR_SOCKET, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    xmpp_test::ScriptedServer server(c.script);
    Session session;
    buzz::XmppClientSettings settings = LoopbackSettings(server.port());
    settings.set_use_tls(c.tls);
    settings.set_allow_plain(c.allow_plain);
    session.Run(settings);
    server.Finish();
    int subcode = -1;
    EXPECT_EQ(session.error(&subcode), c.error);
    ASSERT_FALSE(session.states.empty());
    EXPECT_EQ(session.states.back(), XmppEngine::STATE_CLOSED);
    EXPECT_EQ(std::count(session.states.begin(), session.states.end(), XmppEngine::STATE_CLOSED),
              1);
    EXPECT_EQ(session.client()->SendStanza(nullptr), buzz::XMPP_RETURN_BADARGUMENT);
    buzz::XmlElement presence(buzz::QN_PRESENCE);
    EXPECT_EQ(session.client()->SendStanza(&presence), buzz::XMPP_RETURN_BADSTATE);
    if (c.error == XmppEngine::ERROR_SOCKET) {
      EXPECT_EQ(subcode, 0);  // the peer closed cleanly
      EXPECT_EQ(session.close_events, std::vector<int>{0});
    } else {
      EXPECT_TRUE(session.close_events.empty());
    }
    if (c.error == XmppEngine::ERROR_STREAM) {
      ASSERT_NE(session.client()->GetStreamError(), nullptr);
      EXPECT_NE(session.client()->GetStreamError()->FirstElement(), nullptr);
    }
    if (c.tls != buzz::TLS_DISABLED || !c.allow_plain) {
      // Credentials never went out on the unencrypted stream.
      EXPECT_EQ(server.received().find("<auth"), std::string::npos);
    }
    if (c.client_sends != nullptr) {
      EXPECT_NE(server.received().find(c.client_sends), std::string::npos) << server.received();
    }
    EXPECT_EQ(session.client()->Disconnect(), buzz::XMPP_RETURN_BADSTATE);  // already over
    EXPECT_EQ(session.states.back(), XmppEngine::STATE_CLOSED);
  }
}

TEST(XmppClientTest, ConnectionRefusedIsASocketError) {
  int port;
  {
    xmpp_test::ScriptedServer probe({});  // a port that is free once it is gone
    port = probe.port();
  }
  Session session;
  session.Run(LoopbackSettings(port));
  int subcode = 0;
  EXPECT_EQ(session.error(&subcode), XmppEngine::ERROR_SOCKET);
  EXPECT_EQ(subcode, ECONNREFUSED);
  EXPECT_EQ(session.close_events, std::vector<int>{ECONNREFUSED});
  EXPECT_EQ(session.states,
            (std::vector<XmppEngine::State>{XmppEngine::STATE_START, XmppEngine::STATE_CLOSED}));
}

// Takes every presence, in order, through the task queue; counts what it saw.
class PresenceSink : public buzz::XmppTask {
 public:
  explicit PresenceSink(talk_base::TaskParent* parent) : XmppTask(parent, XmppEngine::HL_TYPE) {}
  bool HandleStanza(const buzz::XmlElement* stanza) override {
    if (stanza->Name() != buzz::QN_PRESENCE) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    const buzz::XmlElement* stanza = NextStanza();
    if (stanza == nullptr) return STATE_BLOCKED;
    ids.push_back(stanza->Attr(buzz::QN_ID));
    return STATE_START;
  }
  std::vector<std::string> ids;
};

// Sends a ping and waits for its answer at the single-stanza level.
class PingTask : public buzz::XmppTask {
 public:
  explicit PingTask(talk_base::TaskParent* parent) : XmppTask(parent, XmppEngine::HL_SINGLE) {
    set_task_id("ping-1");
  }
  bool HandleStanza(const buzz::XmlElement* stanza) override {
    if (!MatchResponseIq(stanza, buzz::Jid(), task_id())) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    std::unique_ptr<buzz::XmlElement> iq = MakeIq(buzz::STR_GET, buzz::Jid(), task_id());
    iq->AddElement(std::make_unique<buzz::XmlElement>(buzz::QN_PING, true));
    *sent = SendStanza(iq.get());
    return STATE_RESPONSE;
  }
  int ProcessResponse() override {
    const buzz::XmlElement* stanza = NextStanza();
    if (stanza == nullptr) return STATE_BLOCKED;
    *answered = true;
    return STATE_DONE;  // the runner deletes the task
  }
  buzz::XmppReturnStatus* sent = nullptr;
  bool* answered = nullptr;
};

// Ends the session when the message "last" arrives, from a task as a sign-out would.
class Closer : public buzz::XmppTask {
 public:
  explicit Closer(talk_base::TaskParent* parent) : XmppTask(parent, XmppEngine::HL_SENDER) {}
  bool HandleStanza(const buzz::XmlElement* stanza) override {
    if (stanza->Attr(buzz::QN_ID) != "last") return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    if (NextStanza() == nullptr) return STATE_BLOCKED;
    EXPECT_EQ(GetClient()->Disconnect(), buzz::XMPP_RETURN_OK);
    return STATE_DONE;
  }
};

// A plain handler at a given level that records what it sees and takes what `take` says.
struct Recorder : buzz::XmppStanzaHandler {
  explicit Recorder(std::function<bool(const buzz::XmlElement*)> t) : take(std::move(t)) {}
  bool HandleStanza(const buzz::XmlElement* stanza) override {
    seen.push_back(stanza->Name().LocalPart() + ":" + stanza->Attr(buzz::QN_ID));
    return take(stanza);
  }
  std::function<bool(const buzz::XmlElement*)> take;
  std::vector<std::string> seen;
};

TEST(XmppClientTest, SignsInDispatchesByLevelAndSignsOut) {
  xmpp_test::ScriptedServer server(Concat(
      SignInScript(),
      {Expect("<iq type=\"get\" id=\"ping-1\"><ping xmlns=\"urn:xmpp:ping\"/></iq>"),
       Send("<presence id='p1'/><iq type='result' id='ping-1'/>"
            "<presence id='p2'><status>x</status></presence>"
            "<message id='m1'><body>hi</body></message>"
            "<iq type='get' id='unhandled' from='dev@localhost/phone'><query xmlns='urn:x'/></iq>"
            "<presence id='p3'/><message id='last'/>"),
       Expect("<iq type=\"error\" to=\"dev@localhost/phone\" id=\"unhandled\">"
              "<error type=\"cancel\"><service-unavailable "
              "xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\"/></error></iq>"),
       Expect("</stream:stream>")}));
  Session session;
  Recorder peek([](const buzz::XmlElement*) { return true; });  // cannot take at this level
  Recorder all([](const buzz::XmlElement*) { return false; });
  PresenceSink* sink = nullptr;
  buzz::XmppReturnStatus ping_sent = buzz::XMPP_RETURN_UNEXPECTED;
  bool ping_answered = false;
  std::vector<std::string> log_output;
  struct Log : sigslot::has_slots<> {
    std::string in, out;
    void In(const char* d, int n) { in.append(d, n); }
    void Out(const char* d, int n) { out.append(d, n); }
  } log;
  session.client()->SignalLogInput.connect(&log, &Log::In);
  session.client()->SignalLogOutput.connect(&log, &Log::Out);
  session.on_open = [&] {
    EXPECT_EQ(session.client()->jid().Str(), "hub@localhost/norvo.pc");
    session.client()->AddXmppTask(&peek, XmppEngine::HL_PEEK);
    session.client()->AddXmppTask(&all, XmppEngine::HL_ALL);
    sink = new PresenceSink(session.client());
    sink->Start();
    auto* ping = new PingTask(session.client());
    ping->sent = &ping_sent;
    ping->answered = &ping_answered;
    ping->Start();
    (new Closer(session.client()))->Start();
  };
  session.Run(LoopbackSettings(server.port()));
  server.Finish();

  EXPECT_TRUE(server.completed()) << server.received();
  EXPECT_EQ(session.error(), XmppEngine::ERROR_NONE);
  EXPECT_EQ(session.states,
            (std::vector<XmppEngine::State>{XmppEngine::STATE_START, XmppEngine::STATE_OPENING,
                                            XmppEngine::STATE_OPEN, XmppEngine::STATE_CLOSED}));
  EXPECT_TRUE(session.close_events.empty());  // our own close is not a lost connection
  EXPECT_EQ(peek.seen,
            (std::vector<std::string>{"presence:p1", "iq:ping-1", "presence:p2", "message:m1",
                                      "iq:unhandled", "presence:p3", "message:last"}));
  // Taken stanzas go no further: the catch-all saw only what nobody took.
  EXPECT_EQ(all.seen, (std::vector<std::string>{"message:m1", "iq:unhandled"}));
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(sink->ids, (std::vector<std::string>{"p1", "p2", "p3"}));
  EXPECT_EQ(ping_sent, buzz::XMPP_RETURN_OK);
  EXPECT_TRUE(ping_answered);
  // The log signals carry the raw bytes of both directions.
  EXPECT_NE(log.in.find("<message id='last'/>"), std::string::npos);
  EXPECT_EQ(log.out, server.received());
  session.client()->RemoveXmppTask(&peek);
  session.client()->RemoveXmppTask(&all);
}

}  // namespace

TEST(XmppClientTest, DisconnectAfterTheLoopEndedStillClosesTheStream) {
  xmpp_test::ScriptedServer server(
      Concat(SignInScript(), {Send("<presence id='late'/>"), Expect("</stream:stream>")}));
  Session session;
  session.on_open = [&] {
    buzz::XmlElement presence(buzz::QN_PRESENCE);
    presence.SetAttr(buzz::QN_TYPE, "unavailable");
    EXPECT_EQ(session.client()->SendStanza(&presence), buzz::XMPP_RETURN_OK);
    session.Quit();
  };
  session.Run(LoopbackSettings(server.port()));
  ASSERT_EQ(session.states.back(), XmppEngine::STATE_OPEN);
  // The sign-out order: the loop has ended, then the pump disconnects; nothing runs the loop
  // again, yet the closing tag reaches the server.
  session.pump()->DoDisconnect();
  EXPECT_EQ(session.states.back(), XmppEngine::STATE_CLOSED);
  EXPECT_EQ(session.error(), XmppEngine::ERROR_NONE);
  EXPECT_EQ(session.pump()->state(), XmppEngine::STATE_CLOSED);
  server.Finish();
  EXPECT_TRUE(server.completed());
  const std::string received = server.received();
  EXPECT_NE(received.find("<presence type=\"unavailable\"/></stream:stream>"), std::string::npos);
  EXPECT_TRUE(session.close_events.empty());
}
