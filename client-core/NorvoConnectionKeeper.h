// The connection keeper: sends an XMPP ping (XEP-0199) to the server at a fixed period, so that
// idle connections are not dropped and dead ones are noticed by the socket (whose close then
// ends the session). Its timer runs on a thread of its own; the ping itself is handed to the
// client thread, which owns the XMPP client.
#pragma once

#include <atomic>
#include <mutex>

#include "messaging/base/messagequeue.h"
#include "messaging/base/thread.h"

namespace buzz {
class XmppClient;
}  // namespace buzz

class NorvoConnectionKeeper : public talk_base::MessageHandler {
 public:
  static constexpr uint32_t MSG_PING = 17;
  static constexpr int kFirstPingMs = 50000;
  static constexpr int kPingPeriodMs = 100000;

  // `client` lives on `client_thread`; neither is owned.
  NorvoConnectionKeeper(buzz::XmppClient* client, talk_base::Thread* client_thread,
                        int first_ping_ms = kFirstPingMs, int ping_period_ms = kPingPeriodMs);
  ~NorvoConnectionKeeper() override;
  NorvoConnectionKeeper(const NorvoConnectionKeeper&) = delete;
  NorvoConnectionKeeper& operator=(const NorvoConnectionKeeper&) = delete;

  void Start();
  // Stops the timer; pings still pending on either thread are dropped. Safe to call again.
  void Stop();

  // Timer messages, on the keeper's thread.
  void OnMessage(talk_base::Message* msg) override;

  // Sends one ping; client thread only.
  void SendPingStanza();

  int pings_sent() const { return pings_sent_.load(); }

 private:
  // Receives the pings handed to the client thread.
  class Sender : public talk_base::MessageHandler {
   public:
    explicit Sender(NorvoConnectionKeeper* keeper) : keeper_(keeper) {}
    void OnMessage(talk_base::Message* msg) override;

   private:
    NorvoConnectionKeeper* keeper_;
  };

  buzz::XmppClient* client_;
  talk_base::Thread* client_thread_;
  int first_ping_ms_;
  int ping_period_ms_;
  talk_base::Thread thread_;
  Sender sender_;
  std::mutex stop_mutex_;
  bool started_ = false;
  bool stopped_ = false;
  std::atomic<int> pings_sent_{0};
};
