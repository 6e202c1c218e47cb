#include "login/xmpppump.h"

#include <algorithm>

#include "messaging/base/logging.h"
#include "messaging/base/thread.h"

namespace {

enum : uint32_t { MSG_WAKE_TASKS = 1, MSG_TIMEOUT = 2 };

}  // namespace

XmppPump::XmppPump(XmppPumpNotify* notify)
    : thread_(talk_base::Thread::Current()), client_(new buzz::XmppClient(this)), notify_(notify) {
  if (thread_ == nullptr) {
    LOG(LS_ERROR) << "XmppPump::XmppPump - no current thread: the client cannot run";
  }
}

XmppPump::~XmppPump() {
  if (thread_ != nullptr) thread_->Clear(this);
  // A client that was never started is not held by the runner.
  if (!client_started_) delete client_;
  client_ = nullptr;
  DestroyAllTasks();
}

void XmppPump::DoLogin(const buzz::XmppClientSettings& xcs, buzz::AsyncSocket* socket,
                       buzz::PreXmppAuth* auth) {
  OnStateChange(buzz::XmppEngine::STATE_START);
  if (client_started_) {
    LOG(LS_ERROR) << "XmppPump::DoLogin - already signing in";
    delete socket;
    delete auth;
    return;
  }
  client_->SignalStateChange.connect(this, &XmppPump::OnStateChange);
  client_->Connect(xcs, std::string(), socket, auth);
  client_started_ = true;
  client_->Start();
}

void XmppPump::DoDisconnect() {
  if (client_started_ && client_->GetState() != buzz::XmppEngine::STATE_CLOSED) {
    client_->Disconnect();
  }
  OnStateChange(buzz::XmppEngine::STATE_CLOSED);
}

void XmppPump::OnStateChange(buzz::XmppEngine::State state) {
  if (state_ == state) return;
  state_ = state;
  if (notify_ != nullptr) notify_->OnStateChange(state);
}

buzz::XmppReturnStatus XmppPump::SendStanza(const buzz::XmlElement* stanza) {
  return client_->SendStanza(stanza);
}

void XmppPump::WakeTasks() {
  if (wake_pending_ || thread_ == nullptr) return;
  wake_pending_ = true;
  thread_->Post(this, MSG_WAKE_TASKS);
}

void XmppPump::OnTimeoutChange() {
  if (thread_ == nullptr) return;
  thread_->Clear(this, MSG_TIMEOUT);
  const int64_t next = NextTimeout();
  if (next == 0) return;
  const int64_t delay = std::max<int64_t>(0, next - CurrentTime());
  thread_->PostDelayed(static_cast<int>(std::min<int64_t>(delay, 1 << 30)), this, MSG_TIMEOUT);
}

void XmppPump::OnMessage(talk_base::Message* msg) {
  if (msg->message_id == MSG_WAKE_TASKS) wake_pending_ = false;
  RunTasks();
}
