#include "messaging/xmpp/xmppclient.h"

#include <cerrno>
#include <set>
#include <utility>
#include <vector>

#include "messaging/base/logging.h"
#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/saslmechanism.h"
#include "messaging/xmpp/xmlparser.h"
#include "messaging/xmpp/xmpptask.h"

namespace buzz {

namespace {

// A server that accepts the connection but never finishes the negotiation must not keep the
// sign-in waiting forever.
constexpr int kNegotiationTimeoutSeconds = 60;

// SASL failure conditions that mean "these credentials are refused".
bool IsCredentialFailure(const XmlElement* failure) {
  for (const XmlElement* c = failure->FirstElement(); c != nullptr; c = c->NextElement()) {
    const std::string& name = c->Name().LocalPart();
    if (c->Name().Namespace() == NS_SASL &&
        (name == "not-authorized" || name == "credentials-expired" || name == "account-disabled")) {
      return true;
    }
  }
  return false;
}

}  // namespace

struct XmppClient::Engine : public XmppStreamParser::Handler, public sigslot::has_slots<> {
  enum Phase {
    kIdle,
    kPreAuth,
    kConnecting,
    kFeatures,    // stream header sent, waiting for <stream:features/>
    kTlsProceed,  // <starttls/> sent
    kTlsHandshake,
    kSasl,  // <auth/> sent
    kBind,
    kSession,
    kOpen,
    kClosing,  // </stream:stream> sent
    kClosed,
  };

  explicit Engine(XmppClient* c) : client(c), parser(this) {}

  // --- output -------------------------------------------------------------------------------

  void Write(const std::string& text) {
    if (!socket || phase == kClosed) return;
    client->SignalLogOutput(text.data(), static_cast<int>(text.size()));
    socket->Write(text.data(), text.size());
  }

  void WriteElement(const XmlElement& elem) { Write(elem.StrInContext(NS_CLIENT)); }

  void SendStreamHeader() {
    std::string header = "<?xml version=\"1.0\"?><stream:stream to=\"";
    header += XmlEscape(settings.host(), true);
    header += "\" version=\"1.0\"";
    if (!lang.empty()) header += " xml:lang=\"" + XmlEscape(lang, true) + "\"";
    header += " xmlns=\"jabber:client\" xmlns:stream=\"http://etherx.jabber.org/streams\">";
    Write(header);
  }

  // --- the end ------------------------------------------------------------------------------

  // Ends the session with `error`, closes the connection and reports STATE_CLOSED.
  void Close(XmppEngine::Error err, int sub) {
    if (phase == kClosed) return;
    LOG(LS_INFO) << "XmppClient::Engine::Close - stream ended: " << XmppEngine::ErrorText(err)
                 << " (" << static_cast<int>(err) << ", subcode " << sub << ")";
    phase = kClosed;
    error = err;
    subcode = sub;
    if (socket) socket->Close();
    client->ClearTimeout();
    client->SetState(XmppEngine::STATE_CLOSED);
  }

  // Tells the server why we give up (when the stream is up), then closes.
  void FailStream(XmppEngine::Error err, const char* condition, int sub = 0) {
    if (phase >= kFeatures && phase < kClosing && condition != nullptr) {
      Write(std::string("<stream:error><") + condition +
            " xmlns=\"urn:ietf:params:xml:ns:xmpp-streams\"/></stream:error></stream:stream>");
    }
    Close(err, sub);
  }

  // --- socket events ------------------------------------------------------------------------

  void OnAuthDone() {
    if (phase != kPreAuth) return;
    if (pre_auth->HadError()) {
      Close(XmppEngine::ERROR_AUTH, pre_auth->GetError());
      return;
    }
    phase = kConnecting;
    if (!socket->Connect(settings.server_host(), settings.server_port())) {
      const int err = socket->GetError();
      Close(XmppEngine::ERROR_SOCKET, err != 0 ? err : ECONNREFUSED);
    }
  }

  void OnConnected() {
    if (phase != kConnecting) return;
    client->SetState(XmppEngine::STATE_OPENING);
    if (phase != kConnecting) return;  // a handler disconnected
    phase = kFeatures;
    SendStreamHeader();
  }

  void OnSslConnected() {
    if (phase != kTlsHandshake) return;
    encrypted = true;
    client->encrypted_ = true;
    parser.Reset();
    phase = kFeatures;
    SendStreamHeader();
  }

  void OnRead() {
    char buffer[4096];
    while (phase != kClosed) {
      size_t len = 0;
      if (!socket->Read(buffer, sizeof(buffer), &len) || len == 0) break;
      client->SignalLogInput(buffer, static_cast<int>(len));
      if (phase == kClosed) break;
      parser.Parse(buffer, len);
    }
  }

  void OnClosed() {
    if (phase == kClosed) return;
    if (phase == kClosing) {
      Close(XmppEngine::ERROR_NONE, 0);
      return;
    }
    Close(XmppEngine::ERROR_SOCKET, socket->GetError());
  }

  void OnError() {
    if (phase == kClosed) return;
    if (socket->error() == AsyncSocket::ERROR_SSL) {
      Close(XmppEngine::ERROR_TLS, socket->GetError());
      return;
    }
    int err = socket->GetError();
    if (err == 0) err = EIO;
    Close(XmppEngine::ERROR_SOCKET, err);
  }

  // --- parser events ------------------------------------------------------------------------

  void OnStreamStart(const XmlElement& stream) override {
    if (phase == kClosed) return;
    if (stream.Name() != QN_STREAM_STREAM) {
      FailStream(XmppEngine::ERROR_XML, "invalid-namespace");
      return;
    }
    const std::string& version = stream.Attr(QN_VERSION);
    if (version.empty() || version[0] < '1' || version[0] > '9' ||
        (version.size() > 1 && version[1] != '.')) {
      FailStream(XmppEngine::ERROR_VERSION, "unsupported-version");
      return;
    }
    stream_id = stream.Attr(QN_ID);
  }

  void OnStreamEnd() override {
    if (phase == kClosed) return;
    if (phase == kClosing) {
      Close(XmppEngine::ERROR_NONE, 0);
      return;
    }
    Write("</stream:stream>");
    Close(XmppEngine::ERROR_DOCUMENT_CLOSED, 0);
  }

  void OnXmlError(const std::string& message) override {
    if (phase == kClosed) return;
    LOG(LS_WARNING) << "XmppClient::Engine::OnXmlError - " << message;
    FailStream(XmppEngine::ERROR_XML, "not-well-formed");
  }

  void OnStanza(std::unique_ptr<XmlElement> stanza) override {
    if (phase == kClosed || phase == kClosing) return;
    if (stanza->Name() == QN_STREAM_ERROR) {
      client->stream_error_ = std::move(stanza);
      Close(XmppEngine::ERROR_STREAM, 0);
      return;
    }
    switch (phase) {
      case kFeatures:
        if (stanza->Name() != QN_STREAM_FEATURES) {
          FailStream(XmppEngine::ERROR_XML, "unsupported-stanza-type");
          return;
        }
        HandleFeatures(*stanza);
        return;
      case kTlsProceed:
        if (stanza->Name() == QN_TLS_PROCEED) {
          phase = kTlsHandshake;
          if (!socket->StartTls(settings.host())) Close(XmppEngine::ERROR_TLS, 0);
          return;
        }
        Close(XmppEngine::ERROR_TLS, 0);
        return;
      case kSasl:
        HandleSasl(*stanza);
        return;
      case kBind:
      case kSession:
        HandleBindOrSession(*stanza);
        return;
      case kOpen:
        Dispatch(stanza.get());
        return;
      default:
        return;
    }
  }

  // --- negotiation --------------------------------------------------------------------------

  void HandleFeatures(const XmlElement& features) {
    if (!encrypted && settings.use_tls() != TLS_DISABLED) {
      if (features.FirstNamed(QN_TLS_STARTTLS) != nullptr) {
        phase = kTlsProceed;
        Write("<starttls xmlns=\"urn:ietf:params:xml:ns:xmpp-tls\"/>");
        return;
      }
      // Credentials never travel in the clear unless the settings allow it.
      if (settings.use_tls() == TLS_REQUIRED || !settings.allow_plain()) {
        LOG(LS_WARNING) << "XmppClient::Engine::HandleFeatures - the server offers no STARTTLS";
        FailStream(XmppEngine::ERROR_TLS, "policy-violation");
        return;
      }
    }
    if (!authenticated) {
      if (!encrypted && !settings.allow_plain()) {
        FailStream(XmppEngine::ERROR_TLS, "policy-violation");
        return;
      }
      StartSasl(features);
      return;
    }
    if (features.FirstNamed(QN_BIND_BIND) == nullptr) {
      FailStream(XmppEngine::ERROR_BIND, "unsupported-feature");
      return;
    }
    // RFC 3921 sessions: established when offered, unless marked optional (RFC 6121).
    const XmlElement* session = features.FirstNamed(QN_SESSION_SESSION);
    need_session =
        session != nullptr && session->FirstNamed(QName(NS_SESSION, "optional")) == nullptr;
    XmlElement iq(QN_IQ);
    iq.SetAttr(QN_TYPE, STR_SET);
    bind_id = client->NextId();
    iq.SetAttr(QN_ID, bind_id);
    XmlElement* bind = iq.AddElement(std::make_unique<XmlElement>(QN_BIND_BIND, true));
    if (!settings.resource().empty())
      bind->AddElementWithText(QN_BIND_RESOURCE, settings.resource());
    phase = kBind;
    WriteElement(iq);
  }

  void StartSasl(const XmlElement& features) {
    std::vector<std::string> mechanisms;
    if (const XmlElement* list = features.FirstNamed(QN_SASL_MECHANISMS)) {
      for (const XmlElement* m = list->FirstNamed(QN_SASL_MECHANISM); m != nullptr;
           m = m->NextNamed(QN_SASL_MECHANISM)) {
        mechanisms.push_back(m->BodyText());
      }
    }
    std::string choice;
    if (pre_auth) {
      choice = pre_auth->ChooseBestSaslMechanism(mechanisms, encrypted);
      if (!choice.empty()) sasl = pre_auth->CreateSaslMechanism(choice);
    } else {
      for (const std::string& m : mechanisms) {
        if (m == AUTH_MECHANISM_PLAIN) {
          choice = m;
          sasl = std::make_unique<SaslPlainMechanism>(client->jid_, settings.pass());
        }
      }
    }
    if (!sasl) {
      LOG(LS_WARNING) << "XmppClient::Engine::StartSasl - no usable SASL mechanism among "
                      << mechanisms.size() << " offered";
      FailStream(XmppEngine::ERROR_AUTH, nullptr);
      return;
    }
    std::unique_ptr<XmlElement> auth = sasl->StartSaslAuth();
    if (!auth) {
      Close(XmppEngine::ERROR_AUTH, 0);
      return;
    }
    phase = kSasl;
    WriteElement(*auth);
  }

  void HandleSasl(const XmlElement& stanza) {
    if (stanza.Name() == QN_SASL_CHALLENGE) {
      std::unique_ptr<XmlElement> response = sasl->HandleSaslChallenge(&stanza);
      if (!response) {
        Write("<abort xmlns=\"urn:ietf:params:xml:ns:xmpp-sasl\"/>");
        Close(XmppEngine::ERROR_AUTH, 0);
        return;
      }
      WriteElement(*response);
      return;
    }
    if (stanza.Name() == QN_SASL_SUCCESS) {
      sasl->HandleSaslSuccess(&stanza);
      sasl.reset();
      authenticated = true;
      parser.Reset();
      phase = kFeatures;
      SendStreamHeader();
      return;
    }
    if (stanza.Name() == QN_SASL_FAILURE) {
      sasl->HandleSaslFailure(&stanza);
      Write("</stream:stream>");
      Close(IsCredentialFailure(&stanza) ? XmppEngine::ERROR_UNAUTHORIZED : XmppEngine::ERROR_AUTH,
            0);
      return;
    }
    FailStream(XmppEngine::ERROR_AUTH, "unsupported-stanza-type");
  }

  void HandleBindOrSession(const XmlElement& stanza) {
    if (stanza.Name() != QN_IQ) return;
    const std::string& id = stanza.Attr(QN_ID);
    const std::string& type = stanza.Attr(QN_TYPE);
    if (phase == kBind && id == bind_id) {
      if (type != STR_RESULT) {
        FailStream(XmppEngine::ERROR_BIND, nullptr);
        return;
      }
      const XmlElement* bind = stanza.FirstNamed(QN_BIND_BIND);
      const Jid bound(bind == nullptr ? std::string() : bind->TextNamed(QN_BIND_JID));
      if (!bound.IsFull()) {
        FailStream(XmppEngine::ERROR_BIND, nullptr);
        return;
      }
      client->jid_ = bound;
      if (!need_session) {
        Open();
        return;
      }
      XmlElement iq(QN_IQ);
      iq.SetAttr(QN_TYPE, STR_SET);
      session_id = client->NextId();
      iq.SetAttr(QN_ID, session_id);
      iq.AddElement(std::make_unique<XmlElement>(QN_SESSION_SESSION, true));
      phase = kSession;
      WriteElement(iq);
      return;
    }
    if (phase == kSession && id == session_id) {
      if (type != STR_RESULT) {
        FailStream(XmppEngine::ERROR_BIND, nullptr);
        return;
      }
      Open();
    }
  }

  void Open() {
    phase = kOpen;
    client->ClearTimeout();
    client->SetState(XmppEngine::STATE_OPEN);
  }

  // --- stanzas ------------------------------------------------------------------------------

  void Dispatch(const XmlElement* stanza) {
    for (int level = XmppEngine::HL_PEEK; level < XmppEngine::HL_COUNT; ++level) {
      // A snapshot: handlers may add or remove handlers while they run.
      const std::vector<XmppStanzaHandler*> snapshot = handlers[level];
      for (XmppStanzaHandler* h : snapshot) {
        if (!IsRegistered(h, level)) continue;
        const bool taken = h->HandleStanza(stanza);
        if (phase != kOpen) return;
        if (taken && level != XmppEngine::HL_PEEK) return;
      }
    }
    // RFC 6120 8.4: a request nobody handles is answered, never left without reply.
    const std::string& type = stanza->Attr(QN_TYPE);
    if (stanza->Name() == QN_IQ && (type == STR_GET || type == STR_SET)) {
      XmlElement reply(QN_IQ);
      reply.SetAttr(QN_TYPE, STR_ERROR);
      if (stanza->HasAttr(QN_FROM)) reply.SetAttr(QN_TO, stanza->Attr(QN_FROM));
      reply.SetAttr(QN_ID, stanza->Attr(QN_ID));
      XmlElement* error = reply.AddElement(std::make_unique<XmlElement>(QN_ERROR));
      error->SetAttr(QN_TYPE, "cancel");
      error->AddElement(std::make_unique<XmlElement>(QN_STANZA_SERVICE_UNAVAILABLE, true));
      WriteElement(reply);
    }
  }

  bool IsRegistered(XmppStanzaHandler* h, int level) const {
    for (XmppStanzaHandler* x : handlers[level]) {
      if (x == h) return true;
    }
    return false;
  }

  XmppClient* client;
  XmppClientSettings settings;
  std::string lang;
  std::unique_ptr<AsyncSocket> socket;
  std::unique_ptr<PreXmppAuth> pre_auth;
  XmppStreamParser parser;
  Phase phase = kIdle;
  bool encrypted = false;
  bool authenticated = false;
  bool need_session = false;
  std::unique_ptr<SaslMechanism> sasl;
  std::string bind_id;
  std::string session_id;
  std::string stream_id;
  XmppEngine::Error error = XmppEngine::ERROR_NONE;
  int subcode = 0;
  std::vector<XmppStanzaHandler*> handlers[XmppEngine::HL_COUNT];
  std::set<XmppTask*> tasks;
  uint64_t next_id = 0;
};

XmppClient::XmppClient(talk_base::TaskParent* parent)
    : talk_base::Task(parent), engine_(std::make_unique<Engine>(this)) {}

XmppClient::~XmppClient() {
  for (XmppTask* task : engine_->tasks) task->OnClientGone();
  engine_->tasks.clear();
  // Closing here reports nothing: whoever listens may be half destroyed.
  if (engine_->socket) engine_->socket->Close();
}

void XmppClient::SetState(XmppEngine::State state) {
  if (state_ == state) return;
  state_ = state;
  SignalStateChange(state);
}

XmppReturnStatus XmppClient::Connect(const XmppClientSettings& settings, const std::string& lang,
                                     AsyncSocket* socket, PreXmppAuth* pre_auth) {
  std::unique_ptr<AsyncSocket> owned_socket(socket);
  std::unique_ptr<PreXmppAuth> owned_auth(pre_auth);
  if (engine_->phase != Engine::kIdle || engine_->socket) return XMPP_RETURN_BADSTATE;
  if (!owned_socket) return XMPP_RETURN_BADARGUMENT;
  engine_->settings = settings;
  engine_->lang = lang;
  engine_->socket = std::move(owned_socket);
  engine_->pre_auth = std::move(owned_auth);
  jid_ = Jid(settings.user(), settings.host(), std::string());
  AsyncSocket* s = engine_->socket.get();
  s->SignalConnected.connect(engine_.get(), &Engine::OnConnected);
  s->SignalSSLConnected.connect(engine_.get(), &Engine::OnSslConnected);
  s->SignalRead.connect(engine_.get(), &Engine::OnRead);
  s->SignalClosed.connect(engine_.get(), &Engine::OnClosed);
  s->SignalError.connect(engine_.get(), &Engine::OnError);
  if (engine_->pre_auth) {
    engine_->pre_auth->SignalAuthDone.connect(engine_.get(), &Engine::OnAuthDone);
  }
  return XMPP_RETURN_OK;
}

int XmppClient::ProcessStart() {
  if (!engine_->socket) {
    // Started without Connect: nothing to do, but the state still ends closed.
    engine_->phase = Engine::kClosed;
    engine_->error = XmppEngine::ERROR_SOCKET;
    engine_->subcode = ENOTCONN;
    SetState(XmppEngine::STATE_CLOSED);
    return STATE_RESPONSE;
  }
  if (engine_->phase != Engine::kIdle) return STATE_RESPONSE;
  set_timeout_seconds(kNegotiationTimeoutSeconds);
  SetState(XmppEngine::STATE_START);
  if (engine_->phase != Engine::kIdle) return STATE_RESPONSE;  // disconnected meanwhile
  if (!jid_.IsValid()) {
    LOG(LS_ERROR) << "XmppClient::ProcessStart - invalid account address";
    engine_->Close(XmppEngine::ERROR_AUTH, 0);
    return STATE_RESPONSE;
  }
  if (engine_->pre_auth) {
    engine_->phase = Engine::kPreAuth;
    engine_->pre_auth->StartPreXmppAuth(jid_, engine_->settings.server_host(),
                                        engine_->settings.server_port(), engine_->settings.pass(),
                                        engine_->settings.auth_mechanism(),
                                        engine_->settings.auth_token());
  } else {
    engine_->phase = Engine::kPreAuth;
    engine_->OnAuthDone();
  }
  return STATE_RESPONSE;
}

int XmppClient::ProcessResponse() {
  // The client stays alive (blocked) after the stream ends, so that its error and the tasks
  // below it remain readable until the runner goes.
  return STATE_BLOCKED;
}

int XmppClient::OnTimeout() {
  if (engine_->phase != Engine::kOpen && engine_->phase != Engine::kClosed) {
    LOG(LS_WARNING) << "XmppClient::OnTimeout - the server did not finish the negotiation";
    engine_->FailStream(XmppEngine::ERROR_SOCKET, "connection-timeout", ETIMEDOUT);
  }
  return STATE_BLOCKED;
}

void XmppClient::Stop() {
  if (engine_->phase != Engine::kClosed && engine_->phase != Engine::kIdle) Disconnect();
}

XmppReturnStatus XmppClient::Disconnect() {
  Engine& e = *engine_;
  if (e.phase == Engine::kClosed || e.phase == Engine::kIdle) return XMPP_RETURN_BADSTATE;
  if (e.phase >= Engine::kFeatures && e.phase < Engine::kClosing) {
    e.Write("</stream:stream>");
    e.phase = Engine::kClosing;
  }
  // The loop may not run again (sign-out ends it first), so the close is not awaited.
  e.Close(XmppEngine::ERROR_NONE, 0);
  return XMPP_RETURN_OK;
}

XmppEngine::Error XmppClient::GetError(int* subcode) const {
  if (subcode != nullptr) *subcode = engine_->subcode;
  return engine_->error;
}

std::string XmppClient::NextId() { return std::to_string(++engine_->next_id); }

XmppReturnStatus XmppClient::SendStanza(const XmlElement* stanza) {
  if (stanza == nullptr) return XMPP_RETURN_BADARGUMENT;
  if (engine_->phase != Engine::kOpen) return XMPP_RETURN_BADSTATE;
  engine_->WriteElement(*stanza);
  return XMPP_RETURN_OK;
}

XmppReturnStatus XmppClient::SendRaw(const std::string& text) {
  if (engine_->phase != Engine::kOpen) return XMPP_RETURN_BADSTATE;
  engine_->Write(text);
  return XMPP_RETURN_OK;
}

void XmppClient::AddXmppTask(XmppStanzaHandler* handler, XmppEngine::HandlerLevel level) {
  if (handler == nullptr || level <= XmppEngine::HL_NONE || level >= XmppEngine::HL_COUNT) return;
  if (engine_->IsRegistered(handler, level)) return;
  engine_->handlers[level].push_back(handler);
}

void XmppClient::RemoveXmppTask(XmppStanzaHandler* handler) {
  for (auto& list : engine_->handlers) std::erase(list, handler);
}

void XmppClient::RegisterTask(XmppTask* task) { engine_->tasks.insert(task); }

void XmppClient::UnregisterTask(XmppTask* task) { engine_->tasks.erase(task); }

}  // namespace buzz
