#include "client-core/NorvoConnectionKeeper.h"

#include <memory>
#include <string>

#include "messaging/base/helpers.h"
#include "messaging/base/logging.h"
#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/xmlelement.h"
#include "messaging/xmpp/xmppclient.h"

NorvoConnectionKeeper::NorvoConnectionKeeper(buzz::XmppClient* client,
                                             talk_base::Thread* client_thread, int first_ping_ms,
                                             int ping_period_ms)
    : client_(client),
      client_thread_(client_thread),
      first_ping_ms_(first_ping_ms),
      ping_period_ms_(ping_period_ms),
      sender_(this) {
  thread_.SetName("NorvoConnectionKeeper Thread", nullptr);
}

NorvoConnectionKeeper::~NorvoConnectionKeeper() { Stop(); }

void NorvoConnectionKeeper::Start() {
  LOG(LS_INFO) << "NorvoConnectionKeeper::Start";
  std::lock_guard<std::mutex> lock(stop_mutex_);
  if (started_ || stopped_) return;
  thread_.Start();
  thread_.PostDelayed(first_ping_ms_, this, MSG_PING);
  started_ = true;
}

void NorvoConnectionKeeper::Stop() {
  LOG(LS_INFO) << "NorvoConnectionKeeper::Stop";
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    if (!started_ || stopped_) return;
    stopped_ = true;
  }
  thread_.Stop();
  thread_.Clear(this);
  // A ping handed over just before the stop must not reach a client that is going away.
  if (client_thread_) client_thread_->Clear(&sender_);
}

void NorvoConnectionKeeper::OnMessage(talk_base::Message* msg) {
  if (msg->message_id != MSG_PING) return;
  LOG(LS_INFO) << "NorvoConnectionKeeper:MSG_PING";
  {
    std::lock_guard<std::mutex> lock(stop_mutex_);
    if (stopped_) return;
    // The XMPP client has no lock and belongs to the client thread: the ping is sent there.
    if (client_thread_) client_thread_->Post(&sender_, MSG_PING);
  }
  LOG(LS_INFO) << "NorvoConnectionKeeper:MSG_PING - Post delayed ping message again.";
  thread_.PostDelayed(ping_period_ms_, this, MSG_PING);
}

void NorvoConnectionKeeper::Sender::OnMessage(talk_base::Message* msg) {
  if (msg->message_id == MSG_PING) keeper_->SendPingStanza();
}

void NorvoConnectionKeeper::SendPingStanza() {
  LOG(LS_INFO) << "NorvoConnectionKeeper:SendPingStanza";
  if (!client_) return;
  buzz::XmlElement iq(buzz::QN_IQ);
  iq.SetAttr(buzz::QN_TYPE, buzz::STR_GET);
  iq.SetAttr(buzz::QN_ID, std::to_string(talk_base::CreateRandomId()));
  iq.AddElement(std::make_unique<buzz::XmlElement>(buzz::QN_PING, true));
  if (client_->SendStanza(&iq) == buzz::XMPP_RETURN_OK) ++pings_sent_;
}
