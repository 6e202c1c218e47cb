#include "client/NorvoJingleClientThread.h"

#include "client-core/NorvoLogger.h"
#include "client/NorvoUI.h"
#include "messaging/base/logging.h"

namespace {

std::string CutText(const char* text, size_t chars) {
  if (!text) return std::string();
  std::string s(text);
  if (s.size() > chars) s.resize(chars);
  return s;
}

}  // namespace

NorvoJingleClientThread::NorvoJingleClientThread()
    : interface_(norvo::NorvoNativeInterface::CreateInstance(nullptr)) {
  LOG(LS_INFO) << "NorvoJingleClientThread constructor called.";
  if (interface_) {
    interface_->SignalNorvoEvent.connect(this, &NorvoJingleClientThread::OnUserEvent);
    interface_->SignalRemoteDeviceActivity.connect(
        this, &NorvoJingleClientThread::OnRemoteDeviceActivity);
    interface_->SignalRosterVCardReceived.connect(this,
                                                  &NorvoJingleClientThread::OnRosterVCardReceived);
    interface_->SignalRosterSubscriptionMsg.connect(
        this, &NorvoJingleClientThread::OnRosterSubscriptionMsgReceived);
  }
  LOG(LS_INFO) << "NorvoJingleClientThread - Instance created.";
}

NorvoJingleClientThread::~NorvoJingleClientThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // deleted from the body's own last callback: it ends right after
    } else {
      thread_.join();
    }
  }
  std::lock_guard<std::mutex> lock(interface_mutex_);
  if (interface_) {
    LOG(LS_INFO) << "NorvoJingleClientThread:Deleting client tester...";
    interface_.reset();
    LOG(LS_INFO) << "NorvoJingleClientThread:Client tester deleted.";
  }
  ui_ = nullptr;
}

void NorvoJingleClientThread::SetAccount(const char* userName, const char* pwd,
                                         const int auth_type) {
  user_name_ = CutText(userName, kUserNameChars);
  credential_ = CutText(pwd, kCredentialChars);
  auth_type_ = auth_type;
}

bool NorvoJingleClientThread::Start() {
  std::unique_lock<std::mutex> lock(run_mutex_);
  if (started_ || thread_.joinable()) {
    LOG(LS_WARNING) << "NorvoJingleClientThread::Start - Already started, not started again";
    return false;
  }
  thread_ = std::thread(&NorvoJingleClientThread::Thread, this);
  run_cv_.wait(lock, [this] { return started_; });
  return true;
}

bool NorvoJingleClientThread::IsRunning() {
  std::lock_guard<std::mutex> lock(run_mutex_);
  return running_;
}

void NorvoJingleClientThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void NorvoJingleClientThread::ThreadStarted() {
  std::lock_guard<std::mutex> lock(run_mutex_);
  started_ = true;
  running_ = true;
  run_cv_.notify_all();
}

void NorvoJingleClientThread::Thread() {
  LOG(LS_INFO) << "NorvoJingleClientThread::Thread - Call ThreadStarted()";
  ThreadStarted();
  LOG(LS_INFO) << "NorvoJingleClientThread - Thread() started";

  norvo::NorvoNativeInterface* iface = nullptr;
  {
    std::lock_guard<std::mutex> lock(interface_mutex_);
    iface = interface_.get();
  }
  // Only this thread deletes the interface, so it stays valid for the whole session.
  if (iface) iface->Start(user_name_.c_str(), credential_.c_str(), auth_type_);

  LOG(LS_INFO) << "NorvoJingleClientThread::Thread - in method Thread(): jingle client command "
                  "loop exited, thread finished";
  {
    std::lock_guard<std::mutex> lock(interface_mutex_);
    LOG(LS_INFO) << "NorvoJingleClientThread::Thread - Deleting client tester...";
    interface_.reset();
    LOG(LS_INFO) << "NorvoJingleClientThread::Thread - Client tester deleted.";
  }
  LOG(LS_INFO) << "NorvoJingleClientThread:Notify UI layer that the client tester instance has "
                  "been finalized.";
  {
    std::lock_guard<std::mutex> lock(run_mutex_);
    running_ = false;
  }
  // Last: the window may delete this object from its handler.
  if (ui_) ui_->OnUserEvent(NorvoEvent_Client_Destroyed);
}

int NorvoJingleClientThread::LogOut() {
  std::lock_guard<std::mutex> lock(interface_mutex_);
  if (!interface_) {
    LOG(LS_WARNING) << "NorvoJingleClientThread::LogOut - No session";
    return -1;
  }
  return interface_->LogOut();
}

void NorvoJingleClientThread::AcceptFileShare(const std::string& share_id,
                                              const std::string& target_folder,
                                              const std::string& target_file_name) {
  std::lock_guard<std::mutex> lock(interface_mutex_);
  if (interface_) interface_->AcceptFileShare(share_id, target_folder, target_file_name);
}

void NorvoJingleClientThread::DeclineFileShare(const std::string& share_id) {
  std::lock_guard<std::mutex> lock(interface_mutex_);
  if (interface_) interface_->DeclineFileShare(share_id);
}

void NorvoJingleClientThread::CancelFileShare(const std::string& share_id) {
  std::lock_guard<std::mutex> lock(interface_mutex_);
  if (interface_) interface_->CancelFileShare(share_id);
}

norvo::_ClientState NorvoJingleClientThread::GetClientState() {
  std::lock_guard<std::mutex> lock(interface_mutex_);
  return interface_ ? interface_->GetClientState() : norvo::CLIENT_STATE_OFFLINE;
}

void NorvoJingleClientThread::OnUserEvent(NorvoEvent code) {
  NorvoLogger::Debug(
      "NorvoJingleClientThread::OnUserEvent - Received an event: %d, forward event to UI layer",
      static_cast<int>(code));
  NorvoCommon::LogNorvoEvent(code);
  if (ui_) ui_->OnUserEvent(code);
}

void NorvoJingleClientThread::OnRemoteDeviceActivity(_NorvoStreamingDevice* d) {
  NorvoLogger::Debug("NorvoJingleClientThread::OnRemoteDeviceActivity");
  if (ui_) ui_->OnRemoteDeviceActivity(d);
}

void NorvoJingleClientThread::OnRosterVCardReceived(const std::string& jid, const std::string& fn,
                                                    const std::string& img) {
  NorvoLogger::Debug("NorvoJingleClientThread::OnRosterVCardReceived");
  if (ui_) ui_->OnRosterVCardReceived(jid, fn, img);
}

void NorvoJingleClientThread::OnRosterSubscriptionMsgReceived(_NorvoRosterSubscriptionMsg* m) {
  if (ui_) ui_->OnRosterSubscriptionMsgReceived(m);
}

void NorvoJingleClientThread::TestSendFile() {
  std::lock_guard<std::mutex> lock(interface_mutex_);
  if (interface_) interface_->TestSendFile();
}
