// A loopback XMPP "server" that follows a script: wait for a text from the client, send a text,
// or close. It runs on a thread of its own with blocking sockets and gives up on its own when the
// client stays silent, so a test that goes wrong still ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace xmpp_test {

struct Step {
  enum Kind { kExpect, kSend, kClose } kind;
  std::string text;
};

inline Step Expect(const std::string& text) { return {Step::kExpect, text}; }
inline Step Send(const std::string& text) { return {Step::kSend, text}; }
inline Step CloseConnection() { return {Step::kClose, ""}; }

// The server's opening, with the features a plain loopback server offers.
inline std::string ServerHeader(const std::string& id = "s1") {
  return "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
         "xmlns:stream='http://etherx.jabber.org/streams' id='" +
         id + "' from='localhost' version='1.0'>";
}

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Step> script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    listen(listener_, 1);
    socklen_t len = sizeof(addr);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    Finish();
    close(listener_);
  }

  // Waits until the script ran and the client closed the connection (or went quiet).
  void Finish() {
    if (!thread_.joinable()) return;
    shutdown(listener_, SHUT_RDWR);  // an accept still waiting gives up
    thread_.join();
  }

  int port() const { return port_; }
  // Everything the client sent.
  std::string received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }
  // False when an expected text did not come.
  bool completed() {
    std::lock_guard<std::mutex> lock(mu_);
    return completed_;
  }

 private:
  void Serve() {
    timeval tv{10, 0};
    setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    const int conn = accept(listener_, nullptr, nullptr);
    if (conn < 0) return;
    setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    size_t matched = 0;  // what earlier expectations consumed
    bool ok = true;
    for (const Step& step : script_) {
      if (step.kind == Step::kSend) {
        send(conn, step.text.data(), step.text.size(), MSG_NOSIGNAL);
      } else if (step.kind == Step::kClose) {
        break;
      } else {
        for (;;) {
          {
            std::lock_guard<std::mutex> lock(mu_);
            const size_t at = received_.find(step.text, matched);
            if (at != std::string::npos) {
              matched = at + step.text.size();
              break;
            }
          }
          if (!ReadSome(conn)) {
            ok = false;
            break;
          }
        }
        if (!ok) break;
      }
    }
    if (ok) {
      std::lock_guard<std::mutex> lock(mu_);
      completed_ = true;
    }
    // After the script: read what is left until the client closes (or goes quiet), then close.
    shutdown(conn, SHUT_WR);
    while (ReadSome(conn)) {
    }
    close(conn);
  }

  bool ReadSome(int conn) {
    char buf[4096];
    const ssize_t n = recv(conn, buf, sizeof(buf), 0);
    if (n <= 0) return false;
    std::lock_guard<std::mutex> lock(mu_);
    received_.append(buf, static_cast<size_t>(n));
    return true;
  }

  std::vector<Step> script_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mu_;
  std::string received_;
  bool completed_ = false;
};

}  // namespace xmpp_test
