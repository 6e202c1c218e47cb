#include <cstdlib>
#include <ctime>

#include "client-core/NorvoCommon.h"
#include "client-core/NorvoGlobalContext.h"
#include "messaging/base/logging.h"
#include "tests/logging/log_capture.h"

namespace {

using logtest::LogTest;

TEST(TraceFileName, FromTheLocalTime) {
  const char* old_tz = std::getenv("TZ");
  std::string saved = old_tz ? old_tz : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(NorvoCommon::TraceFileName(0), "norvo_hub_trace_1970-01-01_000000.log");
  EXPECT_EQ(NorvoCommon::TraceFileName(1781182805), "norvo_hub_trace_2026-06-11_130005.log");
  if (old_tz) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

TEST_F(LogTest, ConfigureLoggingPerLevel) {
  struct Case {
    int level;
    bool file;
    // The confirmation copies the trace file holds, by their severity part.
    std::vector<std::string> copies;
    const char* name;
  };
  const Case cases[] = {
      {0, true, {"", "", "Warning", "Error"}, "DEBUG"},
      {1, true, {"", "Warning", "Error"}, "INFO"},
      {2, true, {"Warning", "Error"}, "WARN"},
      {3, true, {"Error"}, "ERROR"},
      {4, false, {}, "NONE"},
      {5, false, {}, nullptr},
      {-1, false, {}, nullptr},
  };
  const std::regex confirmation(
      R"(^(?:(Warning|Error)\(NorvoCommon\.cc:\d+\): )?NorvoCommon::ConfigureLogging - Done, level is: (.*), log file path: (.*)$)");
  for (const Case& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level));
    talk_base::LogMessage::Reset();
    std::filesystem::remove_all(Dir());
    std::filesystem::create_directory(Dir());

    std::string path = NorvoCommon::ConfigureLoggingInFolder(c.level, Dir().string());
    EXPECT_EQ(std::filesystem::path(path).parent_path(), Dir());
    EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(),
                                 std::regex(R"(norvo_hub_trace_\d{4}-\d{2}-\d{2}_\d{6}\.log)")))
        << path;

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(Dir())) files.push_back(entry);
    if (!c.file) {
      EXPECT_TRUE(files.empty());
      continue;
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].string(), path);
    std::vector<std::string> copies;
    for (const std::string& line : logtest::ReadLines(path)) {
      // Every line carries the time and thread prefix; time stamps are on whatever the level.
      std::smatch prefix;
      ASSERT_TRUE(std::regex_search(line, prefix, logtest::TimeAndThreadPrefix())) << line;
      std::string rest = prefix.suffix().str();
      std::smatch m;
      ASSERT_TRUE(std::regex_match(rest, m, confirmation)) << line;
      EXPECT_EQ(m[2].str(), c.name);
      EXPECT_EQ(m[3].str(), path);
      copies.push_back(m[1].str());
    }
    EXPECT_EQ(copies, c.copies);
  }
}

TEST_F(LogTest, ConfigureLoggingUsesTheUserDataFolder) {
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalContext::SetAppUserDataDir((Dir().string() + "/").c_str());
  NorvoCommon::ConfigureLogging(NorvoCommon::NORVO_LOG_LEVEL_INFO);
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(Dir())) files.push_back(entry);
  ASSERT_EQ(files.size(), 1u);
  auto lines = logtest::ReadLines(files[0]);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(
      lines[0].ends_with("] NorvoCommon::ConfigureLogging - Done, level is: INFO, "
                         "log file path: " +
                         files[0].string()))
      << lines[0];
}

TEST_F(LogTest, UnknownLevelReportsTheFileNameAsItsLevel) {
  Capture();
  std::string path = NorvoCommon::ConfigureLoggingInFolder(9, Dir().string());
  // Nothing is configured, so only the test's sink sees the four copies.
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_TRUE(lines_[0].ends_with("NorvoCommon::ConfigureLogging - Done, level is: " + path +
                                  ", log file path: " + path))
      << lines_[0];
  EXPECT_TRUE(std::filesystem::is_empty(Dir()));
}

TEST_F(LogTest, TraceFilePathJoinsTheFolder) {
  struct Case {
    std::string folder;
    std::string parent;
  };
  const std::string dir = Dir().string();
  const Case cases[] = {{dir, dir}, {dir + "/", dir}};
  for (const Case& c : cases) {
    talk_base::LogMessage::Reset();
    std::string path = NorvoCommon::ConfigureLoggingInFolder(4, c.folder);
    EXPECT_EQ(std::filesystem::path(path).parent_path().string(), c.parent) << c.folder;
    EXPECT_EQ(path.find("//"), std::string::npos) << path;
  }
  // A long folder is kept whole: the file lands in it, not at some cut-off path.
  talk_base::LogMessage::Reset();
  auto deep = Dir() / std::string(200, 'a') / std::string(200, 'b') / std::string(200, 'c');
  std::filesystem::create_directories(deep);
  std::string path = NorvoCommon::ConfigureLoggingInFolder(1, deep.string());
  EXPECT_GT(path.size(), 600u);
  EXPECT_EQ(std::filesystem::path(path).parent_path(), deep);
  EXPECT_TRUE(std::filesystem::exists(path));
}

}  // namespace
