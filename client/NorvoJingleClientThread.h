// The client thread: one sign-in session runs on it, so that the window's thread never blocks on
// the network. It owns the session's desktop client and hands every event of the session to the
// window through NorvoUI. A thread object runs one session; each sign-in creates a new one.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "client-core/NorvoNativeInterface.h"
#include "messaging/sigslot/sigslot.h"

class NorvoUI;

class NorvoJingleClientThread : public sigslot::has_slots<> {
 public:
  // Capacities of the account fields, in characters; longer texts are cut to these.
  static constexpr size_t kUserNameChars = 63;
  static constexpr size_t kCredentialChars = 255;

  NorvoJingleClientThread();
  // Waits for a session still running (sign out first); called on the client thread itself, from
  // the last callback, it lets the thread finish on its own.
  ~NorvoJingleClientThread() override;
  NorvoJingleClientThread(const NorvoJingleClientThread&) = delete;
  NorvoJingleClientThread& operator=(const NorvoJingleClientThread&) = delete;

  void SetUI(NorvoUI* ui) { ui_ = ui; }
  void SetAccount(const char* userName, const char* pwd, const int auth_type);

  // Starts the thread and returns once its body runs. False when this object has already run.
  bool Start();
  // Whether the body is still running; safe from any thread.
  bool IsRunning();
  // Waits until the body has finished (for tools and tests).
  void Join();

  // Host commands of the session, safe from any thread; -1 (or nothing) when no session runs.
  int LogOut();
  void AcceptFileShare(const std::string& share_id, const std::string& target_folder,
                       const std::string& target_file_name);
  void DeclineFileShare(const std::string& share_id);
  void CancelFileShare(const std::string& share_id);
  norvo::_ClientState GetClientState();

  void OnUserEvent(NorvoEvent code);
  void OnRemoteDeviceActivity(_NorvoStreamingDevice* d);
  void OnRosterVCardReceived(const std::string& jid, const std::string& fn, const std::string& img);
  void OnRosterSubscriptionMsgReceived(_NorvoRosterSubscriptionMsg* m);

  void TestSendFile();

 private:
  void Thread();
  void ThreadStarted();

  int auth_type_ = -1;
  std::string user_name_;
  std::string credential_;
  NorvoUI* ui_ = nullptr;

  // Guards interface_, which the body deletes while the window's thread may be calling in.
  std::mutex interface_mutex_;
  std::unique_ptr<norvo::NorvoNativeInterface> interface_;

  std::mutex run_mutex_;
  std::condition_variable run_cv_;
  bool started_ = false;  // the body has begun (set once)
  bool running_ = false;
  std::thread thread_;
};
