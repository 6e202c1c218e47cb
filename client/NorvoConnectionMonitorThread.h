// The network monitor: polls whether the machine has a network and tells the window when the
// network goes away (302) and when it comes back (103). It belongs to the window and outlives
// sign-ins; the window turns its events into a sign-out and a new sign-in.
#pragma once

#include <atomic>
#include <functional>

#include "client-core/NorvoNativeInterface.h"
#include "messaging/base/messagequeue.h"
#include "messaging/base/thread.h"

class NorvoUI;

// Bits of a network check's answer; 0 means no network.
enum NorvoNetworkAliveFlags {
  NORVO_NETWORK_ALIVE_LAN = 1,
  NORVO_NETWORK_ALIVE_WAN = 2,
  NORVO_NETWORK_ALIVE_AOL = 4,
};

class NorvoConnectionMonitorThread : public talk_base::MessageHandler {
 public:
  struct Timing {
    int first_check_ms = 2500;
    int check_period_ms = 5000;
    int back_online_pause_ms = 3000;
  };
  // Returns NorvoNetworkAliveFlags bits, 0 when there is no network.
  using NetworkCheck = std::function<int()>;

  // The system's check (platform::IsNetworkAlive): a non-loopback interface that is up and
  // running with an IPv4 or IPv6 address counts as a LAN connection.
  static int SystemNetworkFlags();

  NorvoConnectionMonitorThread();
  // For tests: other delays and another network check.
  NorvoConnectionMonitorThread(const Timing& timing, NetworkCheck check);
  ~NorvoConnectionMonitorThread() override;
  NorvoConnectionMonitorThread(const NorvoConnectionMonitorThread&) = delete;
  NorvoConnectionMonitorThread& operator=(const NorvoConnectionMonitorThread&) = delete;

  // The window that receives the events; set before Start.
  void SetUI(NorvoUI* ui) { ui_.store(ui); }

  void Start(NorvoNetworkMonitorState initial_state);
  void Stop();
  void ForceOffline();
  void WaitForSignOut();
  bool CheckConnection();

  int state() const { return state_.load(); }

  void OnMessage(talk_base::Message* msg) override;

 private:
  void Notify(int code);

  Timing timing_;
  NetworkCheck check_;
  talk_base::Thread worker_;
  bool started_ = false;
  // Written by the window's thread, read by the worker: a single integer.
  std::atomic<int> state_{NorvoNetworkMonitorState_Offline};
  std::atomic<NorvoUI*> ui_{nullptr};
};
