// The login pump: owns the XmppClient and runs it and its tasks on the current thread.
#pragma once

#include <cstdint>

#include "messaging/base/messagequeue.h"
#include "messaging/xmpp/asyncsocket.h"
#include "messaging/xmpp/prexmppauth.h"
#include "messaging/xmpp/task.h"
#include "messaging/xmpp/xmppclient.h"
#include "messaging/xmpp/xmppclientsettings.h"
#include "messaging/xmpp/xmppengine.h"

namespace talk_base {
class Thread;
}

// Told of the pump's state (the client's states, and STATE_CLOSED after DoDisconnect).
class XmppPumpNotify {
 public:
  virtual ~XmppPumpNotify() = default;
  virtual void OnStateChange(buzz::XmppEngine::State state) = 0;
};

class XmppPump : public talk_base::MessageHandler, public talk_base::TaskRunner {
 public:
  // Create it on the thread whose loop will run the session (talk_base::Thread::Current()).
  explicit XmppPump(XmppPumpNotify* notify = nullptr);
  ~XmppPump() override;

  // The client; valid as long as the pump.
  buzz::XmppClient* client() { return client_; }

  // Connects and starts the client. Takes ownership of `socket` and `auth`.
  void DoLogin(const buzz::XmppClientSettings& xcs, buzz::AsyncSocket* socket,
               buzz::PreXmppAuth* auth);
  // Ends the stream (</stream:stream>) if it is live, then reports STATE_CLOSED to the notify
  // target.
  void DoDisconnect();
  buzz::XmppEngine::State state() const { return state_; }

  buzz::XmppReturnStatus SendStanza(const buzz::XmlElement* stanza);

  // TaskRunner: posts a message to the pump's thread, whose handling runs the tasks.
  void WakeTasks() override;
  void OnMessage(talk_base::Message* msg) override;

 protected:
  void OnTimeoutChange() override;

 private:
  void OnStateChange(buzz::XmppEngine::State state);

  talk_base::Thread* thread_;
  buzz::XmppClient* client_;  // a task: owned by this runner
  XmppPumpNotify* notify_;
  buzz::XmppEngine::State state_ = buzz::XmppEngine::STATE_NONE;
  bool wake_pending_ = false;
  bool client_started_ = false;
};
