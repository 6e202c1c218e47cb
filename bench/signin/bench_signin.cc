// How long a sign-in takes: the hub's client thread signs in to the loopback ejabberd again and
// again, the way the window does it (client thread, desktop client, core client, X-OAUTH2), and
// the time from the thread's Start to the signed-in event (the core client's
// CLIENT_EVENT_LOGIN_OK) is taken for each. Prints the median and the worst time.
//
//   build/bin/bench_signin [--reps N] [--password] [--env FILE]
//
// --env FILE (or NORVO_TEST_SERVER_ENV) names the facts file of a running test server
// (BUILD/tests/server/ejabberd.env); without one the benchmark starts a server of its own through
// tests/server/start-ejabberd.sh (root needed) and stops it at the end. --password signs in with
// SASL PLAIN instead of the token. Each sign-out is waited for before the next sign-in, and a
// sign-in that takes longer than a minute ends the run.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoNativeInterface.h"
#include "client/NorvoJingleClientThread.h"
#include "client/NorvoUI.h"
#include "tests/server/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kEventWait = std::chrono::seconds(60);

// The window's side: hands each event, with the time it arrived, to the waiting main thread.
class TimingUI : public NorvoUI {
 public:
  void OnUserEvent(int code) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({code, Clock::now()});
    cv_.notify_all();
  }
  void OnRemoteDeviceActivity(_NorvoStreamingDevice*) override {}
  void OnRosterVCardReceived(const std::string&, const std::string&, const std::string&) override {}
  void OnRosterSubscriptionMsgReceived(_NorvoRosterSubscriptionMsg*) override {}

  // Waits for the first event among `codes` and returns it with its time; nothing after a
  // minute without one.
  std::optional<std::pair<int, Clock::time_point>> WaitFor(const std::vector<int>& codes) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<std::pair<int, Clock::time_point>> found;
    cv_.wait_for(lock, kEventWait, [&] {
      for (const auto& e : events_) {
        if (std::find(codes.begin(), codes.end(), e.first) != codes.end()) {
          found = e;
          return true;
        }
      }
      return false;
    });
    return found;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::pair<int, Clock::time_point>> events_;
};

// A server started by the benchmark itself, stopped again when the run ends.
class OwnServer {
 public:
  ~OwnServer() { Stop(); }
  bool Start() {
    state_dir_ = NORVO_BENCH_SERVER_DIR;
    std::string command =
        "bash '" NORVO_SOURCE_DIR "/tests/server/start-ejabberd.sh' '" + state_dir_ + "' >&2";
    std::fprintf(stderr, "bench_signin: starting a test server (%s)\n", state_dir_.c_str());
    started_ = std::system(command.c_str()) == 0;
    return started_;
  }
  void Stop() {
    if (!started_) return;
    started_ = false;
    std::string command =
        "bash '" NORVO_SOURCE_DIR "/tests/server/stop-ejabberd.sh' '" + state_dir_ + "' >&2";
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "bench_signin: stopping the test server failed\n");
    }
  }
  std::string env_file() const { return state_dir_ + "/ejabberd.env"; }

 private:
  std::string state_dir_;
  bool started_ = false;
};

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int Usage() {
  std::fprintf(stderr, "usage: bench_signin [--reps N] [--password] [--env FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 20;
  bool use_password = false;
  std::string env_file;
  if (const char* env = std::getenv("NORVO_TEST_SERVER_ENV"); env != nullptr) env_file = env;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--reps" && i + 1 < argc) {
      reps = std::atoi(argv[++i]);
      if (reps < 1) return Usage();
    } else if (arg == "--password") {
      use_password = true;
    } else if (arg == "--env" && i + 1 < argc) {
      env_file = argv[++i];
    } else {
      return Usage();
    }
  }

  OwnServer own_server;
  if (env_file.empty()) {
    if (!own_server.Start()) {
      std::fprintf(stderr, "bench_signin: the test server did not start\n");
      return 1;
    }
    env_file = own_server.env_file();
  }
  setenv("NORVO_TEST_SERVER_ENV", env_file.c_str(), 1);
  std::string error;
  std::optional<norvo_test::TestServer> server = norvo_test::LoadTestServer(&error);
  if (!server) {
    std::fprintf(stderr, "bench_signin: %s\n", error.c_str());
    return 1;
  }
  const norvo_test::TestAccount& hub = server->account("hub");
  setenv("NORVO_XMPP_SERVER", (server->host + ":" + std::to_string(server->port)).c_str(), 1);
  setenv("NORVO_XMPP_CA_FILE", server->ca_file.c_str(), 1);

  // The session's library database goes into a folder of the run's own.
  char data_template[] = "/tmp/norvo-bench-signin-XXXXXX";
  if (mkdtemp(data_template) == nullptr) {
    std::fprintf(stderr, "bench_signin: cannot make a data folder\n");
    return 1;
  }
  const std::string data_dir = data_template;
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalContext::SetAppUserDataDir((data_dir + "/").c_str());

  std::vector<double> times;
  bool failed = false;
  for (int rep = 0; rep < reps && !failed; ++rep) {
    TimingUI ui;
    auto thread = std::make_unique<NorvoJingleClientThread>();
    thread->SetUI(&ui);
    // auth type 2: the credential is an OAuth 2 access token (X-OAUTH2); 0: a password.
    thread->SetAccount(hub.jid.c_str(), use_password ? hub.password.c_str() : hub.token.c_str(),
                       use_password ? 0 : 2);
    const Clock::time_point start = Clock::now();
    if (!thread->Start()) {
      std::fprintf(stderr, "bench_signin: the client thread did not start\n");
      failed = true;
      break;
    }
    auto first = ui.WaitFor({NorvoEvent_Client_SignedIn, NorvoEvent_Client_AuthFailed,
                             NorvoEvent_Client_SignedOut, NorvoEvent_Client_Destroyed});
    if (first && first->first == NorvoEvent_Client_SignedIn) {
      times.push_back(Millis(first->second - start));
    } else {
      const char* name = first ? NorvoCommon::NorvoEventName(first->first) : nullptr;
      std::fprintf(stderr, "bench_signin: sign-in %d failed (%s)\n", rep + 1,
                   first ? (name ? name : "unknown event") : "no event within a minute");
      failed = true;
    }
    thread->LogOut();
    if (!ui.WaitFor({NorvoEvent_Client_Destroyed})) {
      std::fprintf(stderr, "bench_signin: sign-out %d did not end within a minute\n", rep + 1);
      std::fflush(stderr);
      own_server.Stop();
      std::_Exit(1);  // the client thread still runs; it cannot be joined
    }
    thread->Join();
  }
  std::error_code ec;
  std::filesystem::remove_all(data_dir, ec);
  if (times.empty()) return 1;

  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  const size_t n = sorted.size();
  const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  std::printf("sign-in to %s:%d as %s (%s), %zu times: median %.1f ms, worst %.1f ms\n",
              server->host.c_str(), server->port, hub.jid.c_str(),
              use_password ? "PLAIN" : "X-OAUTH2", n, median, sorted.back());
  std::printf("each (ms):");
  for (double t : times) std::printf(" %.1f", t);
  std::printf("\n");
  return failed ? 1 : 0;
}
