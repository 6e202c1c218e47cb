// The signed-in XMPP client: one stream to the server, its negotiation and its stanza handlers.
//
// Usage on a thread that runs a talk_base::Thread loop (the pump is the task runner):
//
//   talk_base::AutoThread main_thread;
//   buzz::XmppClientSettings settings;
//   settings.set_user("alice");                 // node
//   settings.set_host("example.com");           // domain
//   settings.set_resource("norvo.pc");
//   settings.set_use_tls(buzz::TLS_REQUIRED);
//   settings.set_server("xmpp.example.com", 5222);
//   settings.set_auth_token(buzz::AUTH_MECHANISM_OAUTH2, access_token);  // or set_pass(...)
//
//   XmppPump pump;                              // login/xmpppump.h
//   pump.client()->SignalStateChange.connect(this, &Me::OnStateChange);
//   XmppSocket* socket = new XmppSocket(true);  // owned by the client from DoLogin on
//   socket->SignalCloseEvent.connect(this, &Me::OnSocketClosed);
//   pump.DoLogin(settings, socket, new XmppAuth());
//   main_thread.Run();                          // until something calls Quit()
//   pump.DoDisconnect();
//
//   void Me::OnStateChange(buzz::XmppEngine::State state) {
//     if (state == buzz::XmppEngine::STATE_OPEN) { /* start tasks, send presence */ }
//     if (state == buzz::XmppEngine::STATE_CLOSED) {
//       int subcode = 0;
//       buzz::XmppEngine::Error error = pump.client()->GetError(&subcode);
//       LOG(LS_INFO) << "Me::OnStateChange - closed: " << buzz::XmppEngine::ErrorText(error);
//     }
//   }
//
// Negotiation (RFC 6120): stream header, STARTTLS with the certificate checked by the socket,
// stream restart, SASL with the mechanism the pre-auth handler chooses, stream restart, resource
// binding, and session establishment when the server asks for it. SASL never runs on a stream
// that is not encrypted unless the settings allow plain (loopback tests only).
//
// States: STATE_START when Connect is called, STATE_OPENING once the connection is up, STATE_OPEN
// once the resource is bound, STATE_CLOSED at the end, each reported once by SignalStateChange.
// Errors: a server stream error ERROR_STREAM (GetStreamError() holds it), malformed input
// ERROR_XML, refused credentials ERROR_UNAUTHORIZED, a lost connection ERROR_SOCKET with the errno
// as subcode, </stream:stream> from the server ERROR_DOCUMENT_CLOSED, Disconnect() ERROR_NONE.
//
// Everything runs on the client thread; none of it may be called from another thread.
#pragma once

#include <memory>
#include <string>

#include "messaging/sigslot/sigslot.h"
#include "messaging/xmpp/asyncsocket.h"
#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/prexmppauth.h"
#include "messaging/xmpp/task.h"
#include "messaging/xmpp/xmlelement.h"
#include "messaging/xmpp/xmppclientsettings.h"
#include "messaging/xmpp/xmppengine.h"

namespace buzz {

class XmppTask;

class XmppClient : public talk_base::Task, public sigslot::has_slots<> {
 public:
  explicit XmppClient(talk_base::TaskParent* parent);
  ~XmppClient() override;

  // Starts signing in. Takes ownership of `socket` and `pre_auth` (which may be null: then the
  // password is used with PLAIN). `lang` is the stream's xml:lang (may be empty). The client
  // task must be started (Start()) for the stream to run; XmppPump::DoLogin does both.
  XmppReturnStatus Connect(const XmppClientSettings& settings, const std::string& lang,
                           AsyncSocket* socket, PreXmppAuth* pre_auth);
  // Ends the stream with </stream:stream> and closes the connection; STATE_CLOSED follows with
  // ERROR_NONE (unless the stream had already ended with an error).
  XmppReturnStatus Disconnect();

  XmppEngine::State GetState() const { return state_; }
  // The reason the stream ended; `subcode` (may be null) receives the errno for ERROR_SOCKET and,
  // for ERROR_TLS, OpenSSL's certificate verdict (X509_V_ERR_*) when the certificate was refused;
  // 0 otherwise.
  XmppEngine::Error GetError(int* subcode) const;
  // The server's <stream:error/> after ERROR_STREAM, else null.
  const XmlElement* GetStreamError() const { return stream_error_.get(); }
  // The bound full address once open (node@domain before).
  const Jid& jid() const { return jid_; }
  bool IsEncrypted() const { return encrypted_; }

  // A fresh stanza id, unique within this client.
  std::string NextId();

  // Sends a stanza on the open stream. BADSTATE unless STATE_OPEN; BADARGUMENT for null.
  XmppReturnStatus SendStanza(const XmlElement* stanza);
  // Sends text as it is (it must be well formed); BADSTATE unless STATE_OPEN.
  XmppReturnStatus SendRaw(const std::string& text);

  // Stanza handlers. Tasks register themselves; handlers must outlive their registration.
  void AddXmppTask(XmppStanzaHandler* handler, XmppEngine::HandlerLevel level);
  void RemoveXmppTask(XmppStanzaHandler* handler);

  sigslot::signal1<XmppEngine::State> SignalStateChange;
  // The raw bytes read from and written to the stream (after TLS decryption, before encryption).
  sigslot::signal2<const char*, int> SignalLogInput;
  sigslot::signal2<const char*, int> SignalLogOutput;

 protected:
  int ProcessStart() override;
  int ProcessResponse() override;
  int OnTimeout() override;
  void Stop() override;

 private:
  friend class XmppTask;
  struct Engine;
  void SetState(XmppEngine::State state);
  void RegisterTask(XmppTask* task);
  void UnregisterTask(XmppTask* task);

  XmppEngine::State state_ = XmppEngine::STATE_NONE;
  Jid jid_;
  bool encrypted_ = false;
  std::unique_ptr<XmlElement> stream_error_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace buzz
