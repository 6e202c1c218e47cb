#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "messaging/base/logging.h"
#include "tests/logging/log_capture.h"

namespace {

using logtest::LogTest;
using talk_base::LoggingSeverity;
using talk_base::LogMessage;

int g_evaluations = 0;
int Evaluated() { return ++g_evaluations; }

TEST_F(LogTest, UnconfiguredLoggerBuildsAndWritesNothing) {
  auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(Dir());
  testing::internal::CaptureStderr();
  g_evaluations = 0;
  LOG(LS_SENSITIVE) << Evaluated();
  LOG(LS_VERBOSE) << Evaluated();
  LOG(LS_INFO) << Evaluated();
  LOG(LS_WARNING) << Evaluated();
  LOG(LS_ERROR) << Evaluated();
  errno = ENOENT;
  LOG_ERRNO(LS_ERROR) << Evaluated();
  // "none" is above every target, not a severity that reaches one.
  LOG_V(talk_base::LS_NONE) << "A::B - none";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(g_evaluations, 0) << "a dropped statement must not evaluate its operands";
  EXPECT_EQ(LogMessage::GetMinLogSeverity(), talk_base::LS_NONE);
  EXPECT_TRUE(std::filesystem::is_empty(Dir()));
  std::filesystem::current_path(cwd);
}

TEST_F(LogTest, StatementsBelowTheLevelAreNotEvaluated) {
  Capture(talk_base::LS_WARNING);
  g_evaluations = 0;
  LOG(LS_INFO) << Evaluated();
  LOG(LS_WARNING) << "X::Y - " << Evaluated();
  EXPECT_EQ(g_evaluations, 1);
  ASSERT_EQ(lines_.size(), 1u);
}

TEST_F(LogTest, SeverityNameAndPositionOnlyForWarningsAndErrors) {
  struct Case {
    LoggingSeverity sev;
    const char* expected;
  };
  const Case cases[] = {
      {talk_base::LS_SENSITIVE, "A::B - text 42"},
      {talk_base::LS_VERBOSE, "A::B - text 42"},
      {talk_base::LS_INFO, "A::B - text 42"},
      {talk_base::LS_WARNING, "Warning(logging_test.cc:999): A::B - text 42"},
      {talk_base::LS_ERROR, "Error(logging_test.cc:999): A::B - text 42"},
  };
  Capture();
  for (const Case& c : cases) {
    lines_.clear();
    {
      LogMessage msg("/some/dir/tests\\logging_test.cc", 999, c.sev);
      msg.stream() << "A::B - text " << 42;
    }
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0], c.expected) << "severity " << c.sev;
  }
}

TEST_F(LogTest, SystemErrorContextFollowsTheMessage) {
  Capture();
  errno = ENOENT;
  LOG_ERRNO(LS_ERROR) << "A::Open - cannot open";
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_TRUE(lines_[0].ends_with("A::Open - cannot open : No such file or directory"))
      << lines_[0];
}

TEST_F(LogTest, TimeAndThreadPrefix) {
  Capture();
  LogMessage::LogTimestamps(true);
  LogMessage::LogThreads(true);
  LOG(LS_INFO) << "A::B - hello";
  long tid = static_cast<long>(::syscall(SYS_gettid));

  ASSERT_EQ(lines_.size(), 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(lines_[0], m, logtest::TimeAndThreadPrefix())) << lines_[0];
  EXPECT_EQ(m.suffix().str(), "A::B - hello");

  // The weekday must belong to the printed date.
  struct tm tm = {};
  tm.tm_year = std::stoi(m[2]) - 1900;
  tm.tm_mon = std::stoi(m[3]) - 1;
  tm.tm_mday = std::stoi(m[4]);
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  ASSERT_NE(::mktime(&tm), -1);
  EXPECT_EQ(std::stoi(m[1]), tm.tm_wday);
  EXPECT_LE(std::stoi(m[5]), 23);
  EXPECT_EQ(std::stol(m[8], nullptr, 16), tid);

  // Each part can be switched off on its own.
  lines_.clear();
  LogMessage::LogTimestamps(false);
  LOG(LS_INFO) << "A::B - no time";
  LogMessage::LogThreads(false);
  LOG(LS_INFO) << "A::B - bare";
  ASSERT_EQ(lines_.size(), 2u);
  char thread_part[32];
  std::snprintf(thread_part, sizeof(thread_part), "[%lx] ", tid);
  EXPECT_EQ(lines_[0], std::string(thread_part) + "A::B - no time");
  EXPECT_EQ(lines_[1], "A::B - bare");
}

TEST_F(LogTest, ParameterWordsChooseWhatTheTraceFileRecords) {
  struct Case {
    const char* params;
    bool file_created;
    std::vector<std::string> recorded;
  };
  const Case cases[] = {
      {"verbose file", true, {"v", "i", "w", "e"}},
      {"info file", true, {"i", "w", "e"}},
      {"warning file", true, {"w", "e"}},
      {"error file", true, {"e"}},
      {"sensitive file", true, {"s", "v", "i", "w", "e"}},
      // Without a severity word the file starts at verbose.
      {"file", true, {"v", "i", "w", "e"}},
      // The level in force when "file" is read counts, not a later one.
      {"error file info", true, {"e"}},
      {"none", false, {}},
      {"tstamp thread warning", false, {}},
      {"none file", false, {}},
  };
  for (const Case& c : cases) {
    LogMessage::Reset();
    auto path = Dir() / "trace.log";
    std::filesystem::remove(path);
    LogMessage::ConfigureLogging(c.params, path.c_str());
    LOG(LS_SENSITIVE) << "s";
    LOG(LS_VERBOSE) << "v";
    LOG(LS_INFO) << "i";
    LOG(LS_WARNING) << "w";
    LOG(LS_ERROR) << "e";
    EXPECT_EQ(std::filesystem::exists(path), c.file_created) << c.params;
    std::vector<std::string> recorded;
    for (const std::string& line : logtest::ReadLines(path)) {
      std::string text = logtest::StripTimeAndThread(line);
      recorded.push_back(text.substr(text.find_last_of(' ') + 1));
    }
    EXPECT_EQ(recorded, c.recorded) << c.params;
  }
}

TEST_F(LogTest, TraceFileGolden) {
  auto path = Dir() / "trace.log";
  {
    std::ofstream old(path);
    old << "left over from an earlier run\n";
  }
  LogMessage::ConfigureLogging("tstamp thread info file", path.c_str());
  LOG(LS_VERBOSE) << "A::B - dropped";
  LOG(LS_INFO) << "A::B - info " << 1;
  int warning_line = __LINE__ + 1;
  LOG(LS_WARNING) << "A::B: warning " << 2;
  errno = EACCES;
  int error_line = __LINE__ + 1;
  LOG_ERRNO(LS_ERROR) << "A::B - error";

  // Written unbuffered: every line is there while the file is still open.
  auto lines = logtest::ReadLines(path);
  ASSERT_EQ(lines.size(), 3u) << logtest::ReadAll(path);
  char tid[32];
  std::snprintf(tid, sizeof(tid), "%lx", static_cast<long>(::syscall(SYS_gettid)));
  const std::string expected[] = {
      "A::B - info 1",
      "Warning(logging_test.cc:" + std::to_string(warning_line) + "): A::B: warning 2",
      "Error(logging_test.cc:" + std::to_string(error_line) + "): A::B - error : Permission denied",
  };
  for (size_t i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[i], m, logtest::TimeAndThreadPrefix())) << lines[i];
    EXPECT_EQ(m[8].str(), tid);
    EXPECT_EQ(m.suffix().str(), expected[i]);
  }
  EXPECT_TRUE(logtest::ReadAll(path).ends_with("Permission denied\n"));
}

TEST_F(LogTest, UncreatableTraceFileDropsTheFileTarget) {
  auto path = Dir() / "missing-folder" / "trace.log";
  LogMessage::ConfigureLogging("tstamp thread verbose file", path.c_str());
  EXPECT_EQ(LogMessage::GetMinLogSeverity(), talk_base::LS_NONE);
  LOG(LS_ERROR) << "A::B - goes nowhere";
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LogTest, DebugWordWritesToStandardError) {
  LogMessage::ConfigureLogging("warning debug", nullptr);
  testing::internal::CaptureStderr();
  LOG(LS_INFO) << "A::B - quiet";
  int line = __LINE__ + 1;
  LOG(LS_WARNING) << "A::B - loud";
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Warning(logging_test.cc:" + std::to_string(line) + "): A::B - loud\n");
}

TEST_F(LogTest, ConcurrentLinesNeverInterleave) {
  auto path = Dir() / "trace.log";
  LogMessage::ConfigureLogging("thread info file", path.c_str());
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  const std::string padding(3000, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &padding] {
      for (int i = 0; i < kLines; ++i)
        LOG(LS_INFO) << "T::Run - " << t << " " << i << " " << padding;
    });
  }
  for (auto& th : threads) th.join();

  auto lines = logtest::ReadLines(path);
  // A loaded machine may make some writes slow enough to be reported; those lines are whole too.
  std::erase_if(lines, [](const std::string& l) { return l.find("): Slow log: took ") != l.npos; });
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  const std::regex whole(R"(^\[[0-9a-f]+\] T::Run - ([0-9]) ([0-9]+) x{3000}$)");
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, whole)) << line.substr(0, 80);
    int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[t]++) << "lines of one thread keep their order";
  }
}

TEST_F(LogTest, SlowLineIsReportedOnceWithoutRecursion) {
  std::vector<std::string> seen;
  LogMessage::SetSink(
      [&seen](LoggingSeverity, const std::string& line) {
        seen.push_back(line);
        // Every line is slow, the warning included: it must not warn about itself.
        std::this_thread::sleep_for(std::chrono::milliseconds(LogMessage::kSlowLogMs + 10));
      },
      talk_base::LS_INFO);
  LOG(LS_INFO) << "A::B - stalls";
  ASSERT_EQ(seen.size(), 2u);
  const std::regex slow(
      R"(^Warning\(logging\.cc:[0-9]+\): Slow log: took ([0-9]+)ms to write ([0-9]+) bytes\.$)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(seen[1], m, slow)) << seen[1];
  EXPECT_GE(std::stoi(m[1]), LogMessage::kSlowLogMs);
  EXPECT_EQ(std::stoul(m[2]), seen[0].size() + 1) << "the written line with its newline";
}

TEST_F(LogTest, FileBaseName) {
  EXPECT_STREQ(talk_base::FileBaseName("a/b/c.cc"), "c.cc");
  EXPECT_STREQ(talk_base::FileBaseName("C:\\src\\x.cpp"), "x.cpp");
  EXPECT_STREQ(talk_base::FileBaseName("mixed/dir\\y.h"), "y.h");
  EXPECT_STREQ(talk_base::FileBaseName("plain.cc"), "plain.cc");
  EXPECT_STREQ(talk_base::FileBaseName("dir/"), "");
}

}  // namespace
