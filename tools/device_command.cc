// norvo device signin: signs in with the hub's own core client in a device role, prints every
// state report and window event by name, stays a while, and signs out.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "client-core/NorvoCoreClient.h"
#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoNativeInterface.h"
#include "client/NorvoNativeClientImplWin.h"
#include "tools/commands.h"

namespace norvo_tool {
namespace {

void PrintDeviceUsage(FILE* out) {
  std::fputs(
      "usage: norvo device signin --jid JID (--token TOKEN | --password PASSWORD) [--seconds N]\n"
      "\n"
      "Signs in as a device, prints each state report and event, stays N seconds (default 5),\n"
      "signs out. Exit status 0 after a session that signed in, 1 when the sign-in failed.\n"
      "The server is NORVO_XMPP_SERVER (host[:port], default: the JID's domain, port 5222);\n"
      "NORVO_XMPP_CA_FILE names an extra trusted CA file.\n",
      out);
}

const char* Name(const char* name) { return name ? name : "UNKNOWN"; }

// The desktop client, printing what the session reports before handling it as the hub does.
class PrintingHost : public NorvoNativeClientImplWin {
 public:
  PrintingHost() { SignalNorvoEvent.connect(this, &PrintingHost::OnEvent); }

  void OnClientStateChanged(norvo::_ClientEvent event, norvo::_ClientState state) override {
    std::printf("report: %s, %s\n", Name(norvo::ClientEventName(event)),
                Name(norvo::ClientStateName(state)));
    std::fflush(stdout);
    NorvoNativeClientImplWin::OnClientStateChanged(event, state);
    // Only now, so that the window event of the sign-in is printed before the sign-out starts.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (event == norvo::CLIENT_EVENT_LOGIN_OK) signed_in_ = true;
    }
    cv_.notify_all();
  }

  void OnEvent(NorvoEvent e) {
    std::printf("event: %s (%d)\n", Name(NorvoCommon::NorvoEventName(e)), static_cast<int>(e));
    std::fflush(stdout);
  }

  void SessionEnded() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    cv_.notify_all();
  }

  // Waits until signed in or the session has ended; true when signed in.
  bool WaitSignedIn() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signed_in_ || ended_; });
    return signed_in_;
  }
  // Waits `seconds` or until the session ends; true when it is still running.
  bool Stay(int seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return ended_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signed_in_ = false;
  bool ended_ = false;
};

int RunSignIn(int argc, char** argv) {
  std::string jid, token, password;
  int seconds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "norvo device signin: %s needs a value\n", arg.c_str());
      return 2;
    }
    const std::string value = argv[++i];
    if (arg == "--jid") {
      jid = value;
    } else if (arg == "--token") {
      token = value;
    } else if (arg == "--password") {
      password = value;
    } else if (arg == "--seconds") {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || n < 0 || n > 86400) {
        std::fprintf(stderr, "norvo device signin: --seconds wants 0 to 86400\n");
        return 2;
      }
      seconds = static_cast<int>(n);
    } else {
      std::fprintf(stderr, "norvo device signin: unknown option %s\n", arg.c_str());
      PrintDeviceUsage(stderr);
      return 2;
    }
  }
  if (jid.empty() || token.empty() == password.empty()) {
    PrintDeviceUsage(stderr);
    return 2;
  }

  // A device has no library: any role but the hub's.
  NorvoGlobalContext::Init(static_cast<NorvoAppRole>(0));
  PrintingHost host;
  NorvoCoreClient client(&host, jid.c_str());
  const bool with_token = !token.empty();
  const std::string secret = with_token ? token : password;
  int start_result = 0;
  std::thread session([&] {
    start_result = client.Start(jid.c_str(), secret.c_str(), with_token ? 2 : 0);
    host.SessionEnded();
  });
  const bool signed_in = host.WaitSignedIn();
  // A session that drops before its time is up is a failure too.
  const bool stayed = signed_in && host.Stay(seconds);
  if (stayed) client.LogOut();
  session.join();
  if (start_result != 0) {
    std::fprintf(stderr, "norvo device signin: the sign-in could not start (%d)\n", start_result);
    return 1;
  }
  return stayed ? 0 : 1;
}

}  // namespace

int RunDevice(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    PrintDeviceUsage(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (std::strcmp(argv[1], "signin") == 0) return RunSignIn(argc - 1, argv + 1);
  std::fprintf(stderr, "norvo device: unknown command \"%s\"\n", argv[1]);
  PrintDeviceUsage(stderr);
  return 2;
}

}  // namespace norvo_tool
