// One sign-in on the test's own thread: the pump, a socket, the auth handler; the loop runs until
// the stream closes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "login/xmppauth.h"
#include "login/xmpppump.h"
#include "login/xmppsocket.h"
#include "messaging/base/thread.h"
#include "messaging/xmpp/xmppclient.h"

namespace xmpp_test {

class Session : public sigslot::has_slots<>, public talk_base::MessageHandler {
 public:
  Session() : pump_(std::make_unique<XmppPump>()) {
    client()->SignalStateChange.connect(this, &Session::OnState);
    client()->SignalLogOutput.connect(this, &Session::OnOutput);
  }
  ~Session() override { thread_.Clear(this); }

  buzz::XmppClient* client() { return pump_->client(); }
  XmppPump* pump() { return pump_.get(); }

  // `ca_file` empty: the system's trust store only.
  void Run(const buzz::XmppClientSettings& settings, bool tls = false,
           const std::string& ca_file = std::string()) {
    auto* socket = new XmppSocket(tls);
    if (!ca_file.empty()) socket->set_ca_file(ca_file);
    socket->SignalCloseEvent.connect(this, &Session::OnCloseEvent);
    pump_->DoLogin(settings, socket, new XmppAuth());
    // Only a guard against a hung test; no test relies on it.
    thread_.PostDelayed(60000, this);
    thread_.Run();
  }

  void OnMessage(talk_base::Message*) override {
    ADD_FAILURE() << "the session did not end";
    thread_.Quit();
  }

  buzz::XmppEngine::Error error(int* subcode = nullptr) { return client()->GetError(subcode); }
  // Ends the loop with the stream still open (as a sign-out does before DoDisconnect).
  void Quit() { thread_.Quit(); }

  std::vector<buzz::XmppEngine::State> states;
  std::vector<int> close_events;
  std::string output;  // everything the client wrote
  std::function<void()> on_open;

 private:
  void OnState(buzz::XmppEngine::State state) {
    states.push_back(state);
    if (state == buzz::XmppEngine::STATE_OPEN && on_open) on_open();
    if (state == buzz::XmppEngine::STATE_CLOSED) thread_.Quit();
  }
  void OnCloseEvent(int error) { close_events.push_back(error); }
  void OnOutput(const char* data, int len) { output.append(data, len); }

  talk_base::AutoThread thread_;
  std::unique_ptr<XmppPump> pump_;
};

}  // namespace xmpp_test
