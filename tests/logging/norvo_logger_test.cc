#include <string>
#include <thread>

#include "client-core/NorvoLogger.h"
#include "messaging/base/logging.h"
#include "tests/logging/log_capture.h"

namespace {

using logtest::LogTest;
using talk_base::LogMessage;

// What follows the severity position, or the whole line for info and verbose.
std::string Text(const std::string& line) {
  auto pos = line.find("): ");
  return line.rfind("Warning(", 0) == 0 || line.rfind("Error(", 0) == 0 ? line.substr(pos + 3)
                                                                        : line;
}

TEST_F(LogTest, NorvoLoggerSeverities) {
  Capture();
  NorvoLogger::Debug("A::B - debug %d", 1);
  NorvoLogger::Info("A::B - info %s", "two");
  NorvoLogger::Warn("A::B - warn %03d", 3);
  NorvoLogger::Error("A::B - error %c", '4');
  // The first call may have announced the logger's set-up; that line is not part of the table.
  std::erase_if(lines_, [](const std::string& l) { return l.find("InitIfNeeded") != l.npos; });
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_[0], "A::B - debug 1");
  EXPECT_EQ(lines_[1], "A::B - info two");
  EXPECT_TRUE(
      std::regex_match(lines_[2], std::regex(R"(Warning\(NorvoLogger\.cc:\d+\): A::B - warn 003)")))
      << lines_[2];
  EXPECT_TRUE(
      std::regex_match(lines_[3], std::regex(R"(Error\(NorvoLogger\.cc:\d+\): A::B - error 4)")))
      << lines_[3];
}

TEST_F(LogTest, NorvoLoggerRespectsTheLevel) {
  Capture(talk_base::LS_WARNING);
  NorvoLogger::Debug("A::B - no");
  NorvoLogger::Info("A::B - no");
  NorvoLogger::Warn("A::B - yes");
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(Text(lines_[0]), "A::B - yes");
}

TEST_F(LogTest, NorvoLoggerCutsLongMessages) {
  struct Case {
    size_t length;
    size_t kept;
  };
  const Case cases[] = {{10, 10}, {2046, 2046}, {2047, 2047}, {2048, 2047}, {100000, 2047}};
  Capture(talk_base::LS_INFO);
  for (const Case& c : cases) {
    lines_.clear();
    std::string text(c.length, 'a');
    text[0] = 'S';
    text.back() = 'E';
    NorvoLogger::Info("%s", text.c_str());
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0], text.substr(0, c.kept)) << "length " << c.length;
  }
}

TEST_F(LogTest, NorvoLoggerCutIncludesTheFatalPrefix) {
  std::string text(3000, 'f');
  EXPECT_DEATH(
      {
        LogMessage::ConfigureLogging("error debug", nullptr);
        NorvoLogger::Fatal("%s", text.c_str());
      },
      "FATAL - f{2039}\n");
}

TEST_F(LogTest, FatalWritesItsPrefixAndAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: the set-up line is first
  EXPECT_DEATH(
      {
        LogMessage::ConfigureLogging("verbose debug", nullptr);
        NorvoLogger::Fatal("X::Y - Unknown code: %d, abort now.", 77);
      },
      "^NorvoLogger::InitIfNeeded - OK\nError\\(NorvoLogger\\.cc:[0-9]+\\): FATAL - X::Y - Unknown "
      "code: 77, abort now\\.\n$");
  // It stops the process even when nothing is recorded.
  EXPECT_DEATH(NorvoLogger::Fatal("X::Y - silent"), "^$");
}

TEST_F(LogTest, NorvoLoggerSharedBufferKeepsThreadsApart) {
  Capture(talk_base::LS_INFO);
  constexpr int kThreads = 4;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      std::string body(100 + t * 300, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) NorvoLogger::Info("T::Run - %d %d %s", t, i, body.c_str());
    });
  }
  for (auto& th : threads) th.join();
  // A loaded machine may report a slow line now and then; that is not the logger's output.
  std::erase_if(lines_,
                [](const std::string& l) { return l.find("): Slow log: took ") != l.npos; });
  ASSERT_EQ(lines_.size(), static_cast<size_t>(kThreads * kLines));
  for (const std::string& line : lines_) {
    int t = line[9] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    std::string body(100 + t * 300, static_cast<char>('a' + t));
    auto tail = line.substr(line.find(' ', 11) + 1);
    EXPECT_EQ(tail, body) << line.substr(0, 40);
  }
}

}  // namespace
