// Entry point of the desktop hub. Start-up runs in a fixed order on the process's first thread,
// which stays the window thread: settings record, user data folder, diagnostic logging (only with
// the three diagnostic arguments), stored user data, the "auto" start, the single-instance check,
// and finally the main window until it closes.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/NorvoPCMainForm.h"
#include "client-core/NorvoCommon.h"
#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoWinUtilities.h"
#include "messaging/base/logging.h"
#include "platform/single_instance.h"
#include "platform/xdg_dirs.h"

namespace {

// The diagnostic codes (not user-visible; docs/diagnostics.md lists them for support staff).
// The first is built at run time from a 12-character piece and four digits.
constexpr char kDiagPiece[] = "NorvoSupport";
constexpr int kDiagDigits[4] = {2, 0, 1, 5};
constexpr char kDiagSecond[] = "DiagnosticOn";
constexpr const char* kDiagLevels[4] = {"TraceVerbose", "TraceInfoMsg", "TraceWarning",
                                        "TraceErrOnly"};

// How long a new copy waits for a running copy of the same name to answer.
constexpr int kInstanceWaitMs = 1500;

// Written by the signal handler, read by the window thread: ends the message loop cleanly.
int g_signal_pipe[2] = {-1, -1};

void OnTerminationSignal(int) {
  int saved = errno;
  char byte = 1;
  ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

void CreateGlobalSettingInstance() {
  LOG(LS_INFO) << "CreateGlobalSettingInstance";
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
}

void CreateUserDataFolder() {
  std::string base = platform::DataHome();
  if (base.empty()) {
    LOG(LS_ERROR) << "MAIN STARTUP - Could not retrieve the user's home directory!\n";
    return;
  }
  LOG(LS_INFO) << "MAIN STARTUP - User app data directory = \"" << base << "\"";
  std::string folder = base + "/Norvo/";
  LOG(LS_INFO) << "MAIN STARTUP - Norvo user data directory = \"" << folder << "\"";
  NorvoGlobalContext::SetAppUserDataDir(folder.c_str());
  // Private: the folder holds the library and, when switched on, trace files.
  if (!platform::CreatePrivateFolder(folder)) {
    LOG_ERRNO(LS_ERROR) << "MAIN STARTUP - Could not create \"" << folder << "\"";
  }
}

// The level chosen by the three diagnostic arguments, or -1 when they are not the codes.
int DiagnosticLevel(const std::vector<std::string>& args) {
  if (args.size() != 3) return -1;
  char first[32];
  std::snprintf(first, sizeof(first), "%s%d%d%d%d", kDiagPiece, kDiagDigits[0], kDiagDigits[1],
                kDiagDigits[2], kDiagDigits[3]);
  if (args[0] != first || args[1] != kDiagSecond) return -1;
  for (int level = 0; level < 4; ++level) {
    if (args[2] == kDiagLevels[level]) return level;
  }
  return 4;
}

bool CheckAndShowIfRunning(platform::InstanceListener* listener) {
  std::string name = platform::CurrentExecutableName();
  if (name.empty()) {
    LOG(LS_WARNING) << "CheckAndShowIfRunning - cannot read this executable's name";
    return false;
  }
  return platform::CheckAndShowIfRunning(name, platform::InstanceSocketPath(name), listener,
                                         kInstanceWaitMs);
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

void InstallTerminationHandlers() {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_pipe) != 0) {
    LOG_ERRNO(LS_ERROR) << "InstallTerminationHandlers - no signal pipe";
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

int RunHub(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);

  // 1-2. The settings record.
  CreateGlobalSettingInstance();
  NorvoGlobalSetting* settings = NorvoGlobalContext::Instance();
  if (settings == nullptr) return -1;

  // 3. The user data folder.
  CreateUserDataFolder();

  // 4. Diagnostic logging, before anything else is recorded.
  int level = DiagnosticLevel(args);
  if (level >= 0) NorvoCommon::ConfigureLogging(level);

  // 5. The stored user data.
  std::string document;
  _NorvoUserDataLoadResult loaded = NorvoWinUtilities::LoadUserData2(&document);
  if (loaded != NorvoUserDataLoad_Ok) {
    LOG(LS_WARNING) << "MAIN - LoadUserData returned an error: " << static_cast<int>(loaded);
  } else {
    LOG(LS_INFO) << "MAIN - Start parsing user data";
    if (NorvoWinUtilities::ParseUserData(document.c_str(), settings)) {
      LOG(LS_INFO) << "MAIN - ParseUserData OK";
    } else {
      LOG(LS_WARNING) << "MAIN - ParseUserData done with error";
    }
    NorvoGlobalContext::LogConfigData();
    document.assign(document.size(), '\0');
  }

  // 6. The kind of start.
  bool auto_start = false;
  if (!args.empty()) {
    if (args[0] == "auto") {
      LOG(LS_INFO) << "MAIN - This is an auto-start up when Windows starts.";
      auto_start = true;
      if (settings->iAutoLoginAtSysStartup != 1) {
        LOG(LS_INFO) << "MAIN - but user disabled auto start of this app, return now.";
        return 0;
      }
    } else {
      LOG(LS_INFO) << "MAIN - This is a normal start up,";
    }
  }

  // 7. One copy per session. From the moment the socket can be seen a termination signal must
  // end the hub cleanly (a signal before the message loop runs is served once it starts).
  InstallTerminationHandlers();
  platform::InstanceListener listener;
  if (CheckAndShowIfRunning(&listener)) return 0;

  // 8. The window, on this thread, until it closes.
  if (!HasDisplay()) {
    std::fprintf(stderr, "norvo-hub: no display found, using Qt's offscreen platform\n");
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("norvo-hub"));
  QApplication::setApplicationDisplayName(QStringLiteral("Norvo Music Hub"));

  std::unique_ptr<QSocketNotifier> quit_notifier;
  if (g_signal_pipe[0] >= 0) {
    quit_notifier = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(quit_notifier.get(), &QSocketNotifier::activated, &app, [] {
      char buf[16];
      while (read(g_signal_pipe[0], buf, sizeof(buf)) > 0) {
      }
      LOG(LS_INFO) << "MAIN - termination signal, closing";
      QApplication::quit();
    });
  }

  norvopc::NorvoPCMainForm window(auto_start);
  window.show();
  if (listener.bound()) {
    listener.Serve([&window] {
      QMetaObject::invokeMethod(
          &window, [&window] { window.ShowFromOtherInstance(); }, Qt::QueuedConnection);
    });
  }
  int rc = app.exec();
  // No request may reach the window once it is gone.
  listener.Stop();
  LOG(LS_INFO) << "MAIN - message loop ended: " << rc;
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return RunHub(argc, argv); }
