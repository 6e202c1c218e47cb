#include "client/NorvoConnectionMonitorThread.h"

#include <chrono>
#include <thread>

#include "client/NorvoUI.h"
#include "messaging/base/logging.h"
#include "platform/network.h"

namespace {

constexpr uint32_t kMsgCheck = 0;

}  // namespace

int NorvoConnectionMonitorThread::SystemNetworkFlags() {
  int flags = 0;
  return platform::IsNetworkAlive(&flags) ? (flags ? flags : NORVO_NETWORK_ALIVE_LAN) : 0;
}

NorvoConnectionMonitorThread::NorvoConnectionMonitorThread()
    : NorvoConnectionMonitorThread(Timing(), &NorvoConnectionMonitorThread::SystemNetworkFlags) {}

NorvoConnectionMonitorThread::NorvoConnectionMonitorThread(const Timing& timing, NetworkCheck check)
    : timing_(timing), check_(std::move(check)) {
  LOG(LS_INFO) << "NorvoConnectionMonitorThread constructor called.";
  LOG(LS_INFO) << "NorvoConnectionMonitorThread - Instance created.";
}

NorvoConnectionMonitorThread::~NorvoConnectionMonitorThread() {
  LOG(LS_INFO) << "NorvoConnectionMonitorThread::De-constructor called, stop now";
  Stop();
  ui_.store(nullptr);
}

void NorvoConnectionMonitorThread::Start(NorvoNetworkMonitorState initial_state) {
  if (started_) {
    LOG(LS_WARNING) << "NorvoConnectionMonitorThread::Start - Already started";
    return;
  }
  state_.store(initial_state);
  worker_.Start();
  worker_.PostDelayed(timing_.first_check_ms, this, kMsgCheck);
  started_ = true;
}

void NorvoConnectionMonitorThread::Stop() {
  LOG(LS_INFO) << "NorvoConnectionMonitorThread::Stop";
  if (started_) {
    LOG(LS_INFO) << "NorvoConnectionMonitorThread::Already started, stop it now";
    worker_.Stop();
    worker_.Clear(this);
    started_ = false;
  }
}

void NorvoConnectionMonitorThread::ForceOffline() {
  LOG(LS_INFO) << "NorvoConnectionMonitorThread:ForceOffline";
  state_.store(NorvoNetworkMonitorState_Offline);
}

void NorvoConnectionMonitorThread::WaitForSignOut() {
  LOG(LS_INFO) << "NorvoConnectionMonitorThread:WaitForSignOut";
  state_.store(NorvoNetworkMonitorState_WaitingForSignOut);
}

bool NorvoConnectionMonitorThread::CheckConnection() {
  const int flags = check_ ? check_() : 0;
  if (flags == 0) {
    LOG(LS_INFO) << "NorvoConnectionMonitorThread - Offline";
    return false;
  }
  if (flags & NORVO_NETWORK_ALIVE_LAN) {
    LOG(LS_INFO) << "NorvoConnectionMonitorThread - Online:NETWORK_ALIVE_LAN";
  }
  if (flags & NORVO_NETWORK_ALIVE_WAN) {
    LOG(LS_INFO) << "NorvoConnectionMonitorThread - Online:NETWORK_ALIVE_WAN";
  }
  if (flags & NORVO_NETWORK_ALIVE_AOL) {
    LOG(LS_INFO) << "NorvoConnectionMonitorThread - Online:NETWORK_ALIVE_AOL";
  }
  return true;
}

void NorvoConnectionMonitorThread::Notify(int code) {
  if (NorvoUI* ui = ui_.load()) ui->OnUserEvent(code);
}

void NorvoConnectionMonitorThread::OnMessage(talk_base::Message* msg) {
  LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage";
  if (msg->message_id != kMsgCheck) {
    LOG(LS_ERROR) << "NorvoConnectionMonitorThread:OnMessage - message_id is not 0, sth is wrong.";
  }
  if (!worker_.IsCurrent()) {
    LOG(LS_ERROR) << "NorvoConnectionMonitorThread:OnMessage - current thread is not the worker "
                     "thread, sth is wrong.";
  }
  const bool alive = CheckConnection();
  const int state = state_.load();
  switch (state) {
    case NorvoNetworkMonitorState_Online:
    case NorvoNetworkMonitorState_SignedIn:
      LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Current state: "
                      "NorvoNetworkMonitorState_Online";
      if (!alive) {
        state_.store(NorvoNetworkMonitorState_Offline);
        LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Network disconnected";
        Notify(NorvoEvent_Connection_FailedWithAutoReconnect);
      }
      break;
    case NorvoNetworkMonitorState_Offline:
      LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Current state: "
                      "NorvoNetworkMonitorState_Offline";
      if (alive) {
        state_.store(NorvoNetworkMonitorState_Online);
        LOG(LS_INFO)
            << "NorvoConnectionMonitorThread:OnMessage - NorvoNetworkMonitorState_Offline: "
               "back online, sleep 3 sec before notify";
        std::this_thread::sleep_for(std::chrono::milliseconds(timing_.back_online_pause_ms));
        Notify(NorvoEvent_Client_BackOnLine);
      } else {
        LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Still offline, do nothing";
      }
      break;
    case NorvoNetworkMonitorState_WaitingForSignOut:
      LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Current state: "
                      "NorvoNetworkMonitorState_WaitingForSignOut";
      break;
    case 4:
      LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Current state: " << state;
      break;
    default:
      LOG(LS_INFO) << "NorvoConnectionMonitorThread:OnMessage - Current state: "
                      "NorvoNetworkMonitorState_Stopped";
      break;
  }
  worker_.PostDelayed(timing_.check_period_ms, this, kMsgCheck);
}
