// The client core without a server: state machine, shell, desktop client commands, monitor and
// client thread.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "client-core/NorvoCoreClient.h"
#include "client-core/NorvoKernelShell.h"
#include "client-core/NorvoNativeInterface.h"
#include "client/NorvoConnectionMonitorThread.h"
#include "client/NorvoJingleClientThread.h"
#include "client/NorvoNativeClientImplWin.h"
#include "messaging/base/thread.h"
#include "tests/client/client_test_util.h"

namespace {

using client_test::DataDir;
using client_test::LogRecorder;
using client_test::RecordingHost;
using client_test::RecordingUI;
using client_test::Report;
using norvo::_ClientState;

constexpr char kSep = kNorvoFieldSeparator;

// Fatal lines go to the trace file, which a death test does not have: send them to stderr.
void LogToStderr() { talk_base::LogMessage::ConfigureLogging("error debug", ""); }

TEST(ClientNames, UnknownValuesAreLoggedAndReturn) {
  LogRecorder log;
  norvo::NorvoNativeInterface::LogClientEvent(999);
  norvo::NorvoNativeInterface::LogClientState(7);
  norvo::NorvoNativeInterface::LogClientEvent(norvo::CLIENT_EVENT_AUTH_ERR);
  norvo::NorvoNativeInterface::LogClientState(norvo::CLIENT_STATE_DISCONNECTING);
  EXPECT_TRUE(log.Contains("NorvoNativeInterface::Unknown client event: 999"));
  EXPECT_TRUE(log.Contains("NorvoNativeInterface::Unknown client state: 7"));
  EXPECT_TRUE(log.Contains("NorvoNativeInterface::Current client event is AUTH_ERR"));
  EXPECT_TRUE(log.Contains("NorvoNativeInterface::Current client state is DISCONNECTING"));
}

TEST(ClientNamesDeathTest, UnknownNorvoEventEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        LogToStderr();
        NorvoCommon::LogNorvoEvent(static_cast<NorvoEvent>(999));
      },
      "NorvoCommon::LogNorvoEvent - Unknown code: 999, abort now.");
}

// The state machine, one row per (state reached, event).
struct TransitionCase {
  const char* name;
  std::vector<_CoreClientFsmEvent> path;  // events that reach the start state
  _CoreClientFsmEvent event;
  bool accepted;
  _ClientState state_after;
  std::vector<Report> reported;  // by the event itself
  const char* log;               // a line the event must write, or null
};

void PrintTo(const TransitionCase& c, std::ostream* os) { *os << c.name; }

class StateMachineTest : public ::testing::TestWithParam<TransitionCase> {
 protected:
  DataDir dir_;
};

TEST_P(StateMachineTest, AppliesTheRow) {
  const TransitionCase& c = GetParam();
  RecordingHost host;
  NorvoCoreClient client(&host, "hub@localhost");
  for (auto e : c.path) ASSERT_TRUE(client.StateTransition(e));
  const size_t before = host.reports.Get().size();
  LogRecorder log;
  EXPECT_EQ(client.StateTransition(c.event), c.accepted);
  EXPECT_EQ(client.GetClientState(), c.state_after);
  const std::vector<Report> all = host.reports.Get();
  EXPECT_EQ(std::vector<Report>(all.begin() + before, all.end()), c.reported);
  if (c.log) {
    EXPECT_TRUE(log.Contains(c.log)) << c.log;
  }
}

using norvo::CLIENT_STATE_CONNECTING;
using norvo::CLIENT_STATE_DISCONNECTING;
using norvo::CLIENT_STATE_OFFLINE;
using norvo::CLIENT_STATE_ONLINE;
const std::vector<_CoreClientFsmEvent> kOffline = {};
const std::vector<_CoreClientFsmEvent> kConnecting = {FsmEvent_Start};
const std::vector<_CoreClientFsmEvent> kOnline = {FsmEvent_Start, FsmEvent_LoggedIn};
const std::vector<_CoreClientFsmEvent> kDisconnecting = {FsmEvent_Start, FsmEvent_LoggedIn,
                                                         FsmEvent_LogOut};
constexpr char kUnexpected[] = "Unexpected state - need further investigation.";
constexpr char kIgnored[] = "No state transition because client is not online";

INSTANTIATE_TEST_SUITE_P(Rows, StateMachineTest,
                         ::testing::Values(TransitionCase{"StartWhileOffline",
                                                          kOffline,
                                                          FsmEvent_Start,
                                                          true,
                                                          CLIENT_STATE_CONNECTING,
                                                          {{190, 1}},
                                                          nullptr},
                                           TransitionCase{"StartWhileConnecting",
                                                          kConnecting,
                                                          FsmEvent_Start,
                                                          false,
                                                          CLIENT_STATE_CONNECTING,
                                                          {},
                                                          kUnexpected},
                                           TransitionCase{"LoggedIn",
                                                          kConnecting,
                                                          FsmEvent_LoggedIn,
                                                          true,
                                                          CLIENT_STATE_ONLINE,
                                                          {{200, 2}},
                                                          nullptr},
                                           TransitionCase{"LogOutWhileOnline",
                                                          kOnline,
                                                          FsmEvent_LogOut,
                                                          true,
                                                          CLIENT_STATE_DISCONNECTING,
                                                          {{191, 3}},
                                                          nullptr},
                                           TransitionCase{"LogOutAgainWhileSigningOut",
                                                          kDisconnecting,
                                                          FsmEvent_LogOut,
                                                          true,
                                                          CLIENT_STATE_DISCONNECTING,
                                                          {{191, 3}},
                                                          nullptr},
                                           TransitionCase{"LogOutWhileConnecting",
                                                          kConnecting,
                                                          FsmEvent_LogOut,
                                                          false,
                                                          CLIENT_STATE_CONNECTING,
                                                          {},
                                                          kUnexpected},
                                           TransitionCase{"LoggedOut",
                                                          kDisconnecting,
                                                          FsmEvent_LoggedOut,
                                                          true,
                                                          CLIENT_STATE_OFFLINE,
                                                          {{201, 0}},
                                                          nullptr},
                                           TransitionCase{"CleanCloseWhileConnecting",
                                                          kConnecting,
                                                          FsmEvent_LoggedOut,
                                                          false,
                                                          CLIENT_STATE_CONNECTING,
                                                          {},
                                                          kUnexpected},
                                           TransitionCase{"AuthFailed",
                                                          kConnecting,
                                                          FsmEvent_AuthFailed,
                                                          true,
                                                          CLIENT_STATE_OFFLINE,
                                                          {{501, 0}},
                                                          nullptr},
                                           TransitionCase{"AuthFailedWhileOnline",
                                                          kOnline,
                                                          FsmEvent_AuthFailed,
                                                          false,
                                                          CLIENT_STATE_ONLINE,
                                                          {},
                                                          kUnexpected},
                                           TransitionCase{"ConnectionFailedWhileConnecting",
                                                          kConnecting,
                                                          FsmEvent_ConnectionFailed,
                                                          true,
                                                          CLIENT_STATE_DISCONNECTING,
                                                          {{502, 3}},
                                                          nullptr},
                                           TransitionCase{"ConnectionFailedWhileOnline",
                                                          kOnline,
                                                          FsmEvent_ConnectionFailed,
                                                          true,
                                                          CLIENT_STATE_DISCONNECTING,
                                                          {{502, 3}},
                                                          nullptr},
                                           TransitionCase{"ConnectionFailedWhileSigningOut",
                                                          kDisconnecting,
                                                          FsmEvent_ConnectionFailed,
                                                          false,
                                                          CLIENT_STATE_DISCONNECTING,
                                                          {},
                                                          kIgnored},
                                           TransitionCase{"ConnectionFailedWhileOffline",
                                                          kOffline,
                                                          FsmEvent_ConnectionFailed,
                                                          false,
                                                          CLIENT_STATE_OFFLINE,
                                                          {},
                                                          kIgnored},
                                           TransitionCase{"SystemErrorKeepsTheState",
                                                          kOnline,
                                                          FsmEvent_SysErr,
                                                          false,
                                                          CLIENT_STATE_ONLINE,
                                                          {{503, 0}},
                                                          kUnexpected}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CoreClientStart, RefusesMissingCredentialsAndASecondStart) {
  DataDir dir;
  struct Case {
    const char* name;
    const char* pwd;
    int result;
  } cases[] = {{"", "secret", 1},
               {nullptr, "secret", 1},
               {"hub@localhost", "", 1},
               {"hub@localhost", nullptr, 1}};
  for (const Case& c : cases) {
    RecordingHost host;
    NorvoCoreClient client(&host, c.name);
    EXPECT_EQ(client.Start(c.name, c.pwd, 2), c.result);
    EXPECT_TRUE(host.reports.Get().empty());
    EXPECT_EQ(client.GetClientState(), CLIENT_STATE_OFFLINE);
  }
  // Already connecting: refused before anything is reported or set up.
  RecordingHost host;
  NorvoCoreClient client(&host, "hub@localhost");
  ASSERT_TRUE(client.StateTransition(FsmEvent_Start));
  EXPECT_EQ(client.Start("hub@localhost", "secret", 2), -1);
  EXPECT_EQ(host.reports.Get().size(), 1u);
  // And a sign-out while connecting is refused too.
  EXPECT_EQ(client.LogOut(), -1);
  EXPECT_EQ(host.reports.Get().size(), 1u);
}

TEST(CoreClientErrors, EngineErrorTexts) {
  EXPECT_EQ(NorvoCoreClient::strerror(0), "");
  EXPECT_EQ(NorvoCoreClient::strerror(4),
            "User is not authorized (Check your username and password)");
  EXPECT_EQ(NorvoCoreClient::strerror(9), "Closed by </stream:stream>");
  EXPECT_EQ(NorvoCoreClient::strerror(10), "Socket error");
  EXPECT_EQ(NorvoCoreClient::strerror(11), "Unknown error");
  EXPECT_EQ(NorvoCoreClient::strerror(-1), "Unknown error");
}

TEST(ShellFields, SplitsAndCutsAtTheSeparator) {
  struct Case {
    std::string text;
    std::vector<size_t> caps;
    std::vector<std::string> fields;
  } cases[] = {
      {std::string("120") + kSep + "more", {kNorvoSeekPositionChars}, {"120"}},
      {"abc", {53, 0, 63, 63}, {"abc", "", "", ""}},
      {std::string("s1") + kSep + "0" + kSep + "/music" + kSep + "a.mp3",
       {53, 0, 63, 63},
       {"s1", "", "/music", "a.mp3"}},
      // A field longer than its buffer is cut; the next field still starts after its separator.
      {std::string(30, 'x') + kSep + "y", {23, 5}, {std::string(23, 'x'), "y"}},
      {std::string(1, kSep) + kSep + "z", {5, 5, 5}, {"", "", "z"}},
      {"", {5, 5}, {"", ""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NorvoKernelShell::SplitFields(c.text, c.caps), c.fields) << c.text;
  }
}

// Posts a message that records itself in the log.
class Marker : public talk_base::MessageHandler {
 public:
  explicit Marker(std::string text) : text_(std::move(text)) {}
  void OnMessage(talk_base::Message*) override { LOG(LS_INFO) << "Marker::OnMessage - " << text_; }

 private:
  std::string text_;
};

// Holds the thread until released.
class Busy : public talk_base::MessageHandler {
 public:
  void OnMessage(talk_base::Message*) override {
    LOG(LS_INFO) << "Busy::OnMessage - started";
    release.get_future().wait();
    LOG(LS_INFO) << "Busy::OnMessage - done";
  }
  std::promise<void> release;
};

TEST(Shell, SignOutWaitsForTheWorkInProgressAndEndsTheLoop) {
  DataDir dir;
  LogRecorder log;
  talk_base::Thread client_thread;
  NorvoCoreClient core(nullptr, "hub@localhost");
  NorvoKernelShell shell(&client_thread, &core);
  Busy busy;
  Marker before("before"), after("after");
  ASSERT_TRUE(client_thread.Start());
  client_thread.Post(&busy);
  log.WaitFor("Busy::OnMessage - started");
  client_thread.Post(&before);
  shell.OnNorvoCommandReceived(NORVO_CMD_SIGN_OUT, nullptr);
  client_thread.Post(&after);
  EXPECT_FALSE(log.Contains("NorvoCoreClient - Quit"));
  busy.release.set_value();
  log.WaitFor("NorvoCoreClient - Quit, final step");
  client_thread.Stop();
  const int done = log.IndexOf("Busy::OnMessage - done");
  const int marker = log.IndexOf("Marker::OnMessage - before");
  const int quit = log.IndexOf("NorvoCoreClient - Quit, final step");
  EXPECT_LT(done, marker);
  EXPECT_LT(marker, quit);
  EXPECT_FALSE(log.Contains("Marker::OnMessage - after"));
  shell.Stop();
}

TEST(Shell, DispatchesParametersAndDropsCommandsAfterStop) {
  DataDir dir;
  LogRecorder log;
  talk_base::Thread client_thread;
  NorvoCoreClient core(nullptr, "hub@localhost");
  NorvoKernelShell shell(&client_thread, &core);
  shell.Start();
  shell.Start();
  EXPECT_EQ(log.Count("NorvoKernelShell - Already started"), 1);
  ASSERT_TRUE(client_thread.Start());
  const std::string accept = std::string("share-1") + kSep + "0" + kSep + "/tmp/in" + kSep + "f.db";
  shell.OnNorvoCommandReceived(NORVO_CMD_ACCEPT_FILE, accept.c_str());
  shell.OnNorvoCommandReceived(NORVO_CMD_SEEK_MUSIC, (std::string("120") + kSep + "x").c_str());
  shell.OnNorvoCommandReceived(NORVO_CMD_HANG_UP, nullptr);
  Marker end("end");
  client_thread.Post(&end);
  log.WaitFor("Marker::OnMessage - end");
  EXPECT_TRUE(log.Contains(
      "NorvoCoreClient::AcceptFileShare - share id: share-1, folder: /tmp/in, file: f.db"));
  EXPECT_TRUE(log.Contains("NorvoCoreClient::SeekInternal - position: 120"));
  EXPECT_TRUE(log.Contains("NorvoKernelShell:OnMessage:This message is not handled"));

  // Once stopped, the shell never touches the client thread again.
  shell.Stop();
  shell.OnNorvoCommandReceived(NORVO_CMD_SIGN_OUT, nullptr);
  EXPECT_EQ(client_thread.size(), 0u);
  EXPECT_TRUE(log.Contains("NORVO_CMD_SIGN_OUT dropped"));
  client_thread.Stop();
}

TEST(ShellDeathTest, UnknownCommandEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int code : {0, 2, 17, -1}) {
    EXPECT_DEATH(
        {
          LogToStderr();
          DataDir dir;
          talk_base::Thread client_thread;
          NorvoCoreClient core(nullptr, "hub@localhost");
          NorvoKernelShell shell(&client_thread, &core);
          shell.OnNorvoCommandReceived(code, "x");
        },
        "Unknown command: " + std::to_string(code) + ", abort now.");
  }
}

// Receives the desktop client's commands.
class CommandRecorder : public sigslot::has_slots<> {
 public:
  void OnCommand(int code, const char* text) { commands.emplace_back(code, text); }
  std::vector<std::pair<int, std::string>> commands;
};

TEST(DesktopClient, TransferCommandsCarryTheirTexts) {
  NorvoNativeClientImplWin client;
  CommandRecorder recorder;
  client.SignalNorvoCommand.connect(&recorder, &CommandRecorder::OnCommand);
  client.AcceptFileShare("share-1", "/home/u/in", "song.mp3");
  client.DeclineFileShare("share-2");
  client.CancelFileShare("share-3");
  const std::string long_folder(200, 'f');
  client.AcceptFileShare("share-4", long_folder, "x");
  ASSERT_EQ(recorder.commands.size(), 4u);
  EXPECT_EQ(recorder.commands[0], std::make_pair(14, std::string("share-1") + kSep + "0" + kSep +
                                                         "/home/u/in" + kSep + "song.mp3"));
  EXPECT_EQ(recorder.commands[1], std::make_pair(15, std::string("share-2")));
  EXPECT_EQ(recorder.commands[2], std::make_pair(13, std::string("share-3")));
  // The command buffer holds 127 characters.
  EXPECT_EQ(recorder.commands[3].second.size(), 127u);

  // What the shell makes of the accept text.
  const auto fields = NorvoKernelShell::SplitFields(
      recorder.commands[0].second,
      {kNorvoShareIdChars, 0, kNorvoTargetPathChars, kNorvoTargetPathChars});
  EXPECT_EQ(fields[0], "share-1");
  EXPECT_EQ(fields[2], "/home/u/in");
  EXPECT_EQ(fields[3], "song.mp3");
}

TEST(DesktopClient, OutsideASession) {
  NorvoNativeClientImplWin client;
  EXPECT_EQ(client.GetRosterMap(), nullptr);
  EXPECT_EQ(client.GetClientState(), CLIENT_STATE_OFFLINE);
  EXPECT_EQ(client.LogOut(), -1);
  EXPECT_EQ(client.InitiateMediaStream("1", "d@localhost/x", "u", "0", "0", "", "0", "0",
                                       static_cast<NorvoStreamType>(7), nullptr),
            6);
  EXPECT_EQ(client.SendNHubMessage("a", "b", "c"), 4);
  EXPECT_EQ(client.SendNHubPlayRequest("a", "b", "c", "d"), 0);
}

TEST(DesktopClientDeathTest, PlayerOperationsAreNotSupported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  NorvoNativeClientImplWin client;
  EXPECT_DEATH(
      {
        LogToStderr();
        client.Play("a", "b");
      },
      "NorvoNativeClientImplWin - Play is not supported, abort!");
  EXPECT_DEATH(
      {
        LogToStderr();
        client.IsMusicStreaming();
      },
      "NorvoNativeClientImplWin - IsMusicStreaming is not supported, abort!");
  EXPECT_DEATH(
      {
        LogToStderr();
        client.OnNorvoEvent(201, "a", "b");
      },
      "Unexpected event notification, code: 201");
}

// The network monitor against a scripted network.
struct MonitorCase {
  const char* name;
  int initial_state;
  std::vector<int> network;  // the check's answer per tick
  std::vector<int> events;
  int final_state;
};

void PrintTo(const MonitorCase& c, std::ostream* os) { *os << c.name; }

class MonitorTest : public ::testing::TestWithParam<MonitorCase> {};

TEST_P(MonitorTest, FollowsTheNetwork) {
  const MonitorCase& c = GetParam();
  RecordingUI ui;
  client_test::Recorded<int> ticks;
  NorvoConnectionMonitorThread::Timing timing{1, 1, 1};
  const std::vector<int> script = c.network;
  NorvoConnectionMonitorThread monitor(timing, [&ticks, script] {
    const size_t n = ticks.Get().size();
    ticks.Add(1);
    return n < script.size() ? script[n] : script.back();
  });
  monitor.SetUI(&ui);
  monitor.Start(static_cast<NorvoNetworkMonitorState>(c.initial_state));
  // The tick after the script has begun: every scripted tick is complete.
  ticks.WaitFor([&](const std::vector<int>& t) { return t.size() > c.network.size(); });
  monitor.Stop();
  EXPECT_EQ(ui.events.Get(), c.events);
  EXPECT_EQ(monitor.state(), c.final_state);
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, MonitorTest,
    ::testing::Values(MonitorCase{"OnlineLosesTheNetwork", 1, {0, 0, 0}, {302}, 0},
                      MonitorCase{"SignedInLikeOnline", 2, {1, 0, 0}, {302}, 0},
                      MonitorCase{"OfflineSeesItReturn", 0, {0, 1, 1}, {103}, 1},
                      MonitorCase{"LostAndBack", 1, {0, 0, 1}, {302, 103}, 1},
                      MonitorCase{"WaitingForSignOutRaisesNothing", 3, {0, 1, 0, 1}, {}, 3},
                      MonitorCase{"UnnamedFourRaisesNothing", 4, {0, 1}, {}, 4},
                      MonitorCase{"StoppedRaisesNothing", 9, {0, 1}, {}, 9}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Monitor, WindowCanForceItsState) {
  client_test::Recorded<int> ticks;
  RecordingUI ui;
  NorvoConnectionMonitorThread monitor({1, 1, 1}, [&ticks] {
    ticks.Add(1);
    return 1;
  });
  monitor.SetUI(&ui);
  monitor.Start(NorvoNetworkMonitorState_WaitingForSignOut);
  ticks.WaitFor([](const std::vector<int>& t) { return t.size() >= 2; });
  EXPECT_TRUE(ui.events.Get().empty());
  monitor.ForceOffline();  // the network is there: the next tick reports it back
  ui.events.WaitForValue(NorvoEvent_Client_BackOnLine);
  monitor.WaitForSignOut();
  EXPECT_EQ(monitor.state(), NorvoNetworkMonitorState_WaitingForSignOut);
}

TEST(ClientThread, FailedStartStillFinishesAndReportsDestroyed) {
  DataDir dir;
  LogRecorder log;
  RecordingUI ui;
  NorvoJingleClientThread thread;
  thread.SetUI(&ui);
  // No credential: the core client refuses at once, before any report.
  thread.SetAccount(std::string(100, 'a').c_str(), "", 2);
  ASSERT_TRUE(thread.Start());
  ui.events.WaitForValue(NorvoEvent_Client_Destroyed);
  thread.Join();
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(ui.events.Get(), std::vector<int>{NorvoEvent_Client_Destroyed});
  EXPECT_FALSE(thread.Start());
  EXPECT_EQ(thread.LogOut(), -1);
  // The account name was cut to its 63 characters.
  EXPECT_TRUE(log.Contains("user name: " + std::string(63, 'a')));
  EXPECT_FALSE(log.Contains(std::string(64, 'a')));
}

}  // namespace
