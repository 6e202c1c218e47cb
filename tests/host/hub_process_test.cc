// The hub as a user starts it: build/bin/norvo-hub as a child process with HOME and the XDG
// folders in a private temporary folder and Qt's offscreen platform.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoUserDataSave.h"
#include "tests/host/host_test_util.h"

namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// Bounds that only keep a broken hub from hanging the suite; nothing here measures speed.
constexpr int kStartMs = 30000;
constexpr int kExitMs = 30000;

const std::vector<std::string> kVerbose = {"NorvoSupport2015", "DiagnosticOn", "TraceVerbose"};

class HubProcessTest : public ::testing::Test {
 protected:
  HubProcessTest() {
    env_ = host_test::XdgEnvUnder(dir_.path());
    env_["QT_QPA_PLATFORM"] = "offscreen";
  }

  std::unique_ptr<host_test::Child> Start(const std::vector<std::string>& args,
                                          const std::string& program = NORVO_HUB_BINARY) {
    return std::make_unique<host_test::Child>(program, args, env_, dir_ / "hub.out");
  }

  std::string SocketPath(const std::string& name = "norvo-hub") const {
    return dir_.path() + "/run/" + name + ".socket";
  }
  std::string DataDir() const { return dir_.path() + "/data/Norvo"; }

  // A hub is serving once its socket is there; start-up has then passed every earlier step.
  bool WaitUntilServing(host_test::Child* hub, const std::string& name = "norvo-hub") {
    return host_test::WaitFor(
               [&] { return host_test::Exists(SocketPath(name)) || !hub->Running(); }, kStartMs) &&
           hub->Running();
  }

  std::optional<int> Close(host_test::Child* hub) {
    hub->Signal(SIGTERM);
    return hub->WaitExit(kExitMs);
  }

  std::vector<std::string> TraceFiles() const {
    std::vector<std::string> traces;
    for (const std::string& name : host_test::ListFolder(DataDir())) {
      if (name.rfind("norvo_hub_trace_", 0) == 0) traces.push_back(name);
    }
    return traces;
  }

  std::string OnlyTrace() const {
    std::vector<std::string> traces = TraceFiles();
    EXPECT_EQ(traces.size(), 1u);
    return traces.empty() ? "" : host_test::ReadFile(DataDir() + "/" + traces[0]).value_or("");
  }

  // Stores settings as the window's save would, into the hub's configuration folder.
  void StoreSettings(int auto_sys, const std::string& hub_name,
                     const std::vector<std::string>& folders) {
    host_test::ScopedEnv env(env_);
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
    s->iAutoLoginAtSysStartup = auto_sys;
    s->iMaxConcurrentStreaming = 4;
    s->accountRefreshToken = "1//secret-refresh-token";
    s->publicFolderList->assign(folders.begin(), folders.end());
    ASSERT_EQ(NorvoUserDataSave::SaveUserData(hub_name, s, nullptr), NorvoUserDataSave_Ok);
  }

  host_test::TempDir dir_;
  std::map<std::string, std::optional<std::string>> env_;
};

TEST_F(HubProcessTest, PlainStartInAnEmptyHomeRunsUntilClosedWithoutATrace) {
  // Only HOME: every folder comes from its default under it.
  env_ = {{"HOME", dir_.path()},
          {"XDG_CONFIG_HOME", std::nullopt},
          {"XDG_DATA_HOME", std::nullopt},
          {"XDG_RUNTIME_DIR", dir_.path() + "/run"},
          {"QT_QPA_PLATFORM", "offscreen"}};
  auto hub = Start({});
  ASSERT_TRUE(WaitUntilServing(hub.get()));
  EXPECT_TRUE(host_test::Exists(dir_.path() + "/.local/share/Norvo"));
  EXPECT_EQ(host_test::ModeOf(dir_.path() + "/.local/share/Norvo"), 0700u);
  EXPECT_THAT(host_test::ListFolder(dir_.path() + "/.local/share/Norvo"), IsEmpty());
  EXPECT_TRUE(hub->Running());
  EXPECT_EQ(Close(hub.get()), 0);
  EXPECT_FALSE(host_test::Exists(SocketPath()));
  EXPECT_THAT(host_test::ListFolder(dir_.path() + "/.local/share/Norvo"), IsEmpty());
}

TEST_F(HubProcessTest, DiagnosticArgumentsChooseTheLevelAndTheTraceFile) {
  struct Case {
    std::vector<std::string> args;
    const char* level_name;  // nullptr: no trace file
  };
  const Case cases[] = {
      {kVerbose, "DEBUG"},
      {{"NorvoSupport2015", "DiagnosticOn", "TraceInfoMsg"}, "INFO"},
      {{"NorvoSupport2015", "DiagnosticOn", "TraceWarning"}, "WARN"},
      {{"NorvoSupport2015", "DiagnosticOn", "TraceErrOnly"}, "ERROR"},
      {{"NorvoSupport2015", "DiagnosticOn", "TraceNothing"}, nullptr},  // level 4: none
      {{"NorvoSupport2016", "DiagnosticOn", "TraceVerbose"}, nullptr},
      {{"NorvoSupport2015", "diagnosticon", "TraceVerbose"}, nullptr},
      {{"NorvoSupport2015", "DiagnosticOn"}, nullptr},
  };
  // [[w] yyyy-mm-dd hh:mm:ss] [tid] then, for warnings and errors, Severity(file:line): text.
  const std::regex line_format(R"(\[\[[0-6]\] \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] \[[0-9a-f]+\] )"
                               R"(((Warning|Error)\([^():/\\]+:\d+\): )?\S.*)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::filesystem::remove_all(DataDir());
    auto hub = Start(c.args);
    ASSERT_TRUE(WaitUntilServing(hub.get()));
    ASSERT_EQ(Close(hub.get()), 0);
    if (c.level_name == nullptr) {
      EXPECT_THAT(TraceFiles(), IsEmpty());
      continue;
    }
    std::vector<std::string> traces = TraceFiles();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(traces[0], std::regex(R"(norvo_hub_trace_\d{4}-\d{2}-\d{2}_\d{6}\.log)")))
        << traces[0];
    std::string trace = OnlyTrace();
    EXPECT_THAT(trace, HasSubstr("NorvoCommon::ConfigureLogging - Done, level is: " +
                                 std::string(c.level_name)));
    std::istringstream lines(trace);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
      ++count;
      EXPECT_TRUE(std::regex_match(line, line_format)) << line;
    }
    EXPECT_GT(count, 0);
  }
}

TEST_F(HubProcessTest, SecondCopyAsksTheFirstToShowItsWindowAndEnds) {
  auto first = Start(kVerbose);
  ASSERT_TRUE(WaitUntilServing(first.get()));
  auto started = std::chrono::steady_clock::now();
  auto second = Start({});
  EXPECT_EQ(second->WaitExit(kExitMs), 0);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  RecordProperty("second_copy_ms", static_cast<int>(took.count()));

  const std::string shown_line = "NorvoPCMainForm::ShowFromOtherInstance - window shown";
  EXPECT_TRUE(host_test::WaitFor([&] { return OnlyTrace().find(shown_line) != std::string::npos; },
                                 kStartMs));
  EXPECT_TRUE(first->Running());
  EXPECT_EQ(Close(first.get()), 0);
  EXPECT_THAT(OnlyTrace(), HasSubstr("visible: 1"));
  // Only the first copy's trace: the second ran without diagnostic arguments.
  EXPECT_EQ(TraceFiles().size(), 1u);
}

TEST_F(HubProcessTest, CopyUnderAnotherNameIsNotDetected) {
  const std::string renamed = dir_ / "other-hub";
  std::filesystem::copy_file(NORVO_HUB_BINARY, renamed);
  std::filesystem::permissions(renamed, std::filesystem::perms::owner_all);
  auto first = Start({});
  ASSERT_TRUE(WaitUntilServing(first.get()));
  auto other = Start({}, renamed);
  ASSERT_TRUE(WaitUntilServing(other.get(), "other-hub"));
  EXPECT_TRUE(first->Running());
  EXPECT_EQ(Close(other.get()), 0);
  EXPECT_EQ(Close(first.get()), 0);
}

TEST_F(HubProcessTest, AutoStartFollowsTheStoredSetting) {
  struct Case {
    const char* name;
    int stored;  // -1: nothing stored (first run)
    bool runs;
  };
  const Case cases[] = {
      {"start with the system off", 0, false},
      {"start with the system on", 1, true},
      {"first run: the default is on", -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_.path() + "/config");
    if (c.stored >= 0) StoreSettings(c.stored, "hub", {});
    auto hub = Start({"auto"});
    if (!c.runs) {
      EXPECT_EQ(hub->WaitExit(kExitMs), 0);
      EXPECT_FALSE(host_test::Exists(SocketPath()));
      continue;
    }
    ASSERT_TRUE(WaitUntilServing(hub.get()));
    EXPECT_EQ(Close(hub.get()), 0);
  }
}

TEST_F(HubProcessTest, StoredSettingsReachTheNextRun) {
  StoreSettings(1, "Den & <Loft> M\xc3\xbasica", {"/m/Rock & Roll", "/m/<x>", "/m/\xe9\x9f\xb3"});
  auto hub = Start(kVerbose);
  ASSERT_TRUE(WaitUntilServing(hub.get()));
  ASSERT_EQ(Close(hub.get()), 0);
  std::string trace = OnlyTrace();
  EXPECT_THAT(trace, HasSubstr("MAIN - ParseUserData OK"));
  EXPECT_THAT(trace, HasSubstr("hubName: Den & <Loft> M\xc3\xbasica\n"));
  EXPECT_THAT(trace, HasSubstr("publicfolder: /m/Rock & Roll\n"));
  EXPECT_THAT(trace, HasSubstr("number of public folders: 3\n"));
  EXPECT_THAT(trace, HasSubstr("maximum concurrent streaming: 4\n"));
  // The stored credential never reaches the trace file.
  EXPECT_THAT(trace, Not(HasSubstr("secret-refresh-token")));
}

TEST_F(HubProcessTest, DamagedStoreStartsWithTheDefaults) {
  StoreSettings(0, "hub", {});
  const std::string store = dir_.path() + "/config/NorvoHub/UserData";
  std::string bytes = *host_test::ReadFile(store);
  bytes[bytes.size() / 2] ^= 1;
  ASSERT_TRUE(host_test::WriteFile(store, bytes));
  // The stored "off" cannot be read, so the default (on) lets the auto start open the window.
  auto hub = Start({"auto", "x"});
  ASSERT_TRUE(WaitUntilServing(hub.get()));
  EXPECT_EQ(Close(hub.get()), 0);
  EXPECT_EQ(*host_test::ReadFile(store), bytes);  // left for the next save to replace
}

}  // namespace
