// Test helpers: a fixture that starts every test from the unconfigured logger and captures the
// finished lines through the sink, and a scratch folder for trace files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "messaging/base/logging.h"
#include "tests/common/temp_dir.h"

namespace logtest {

// "[[w] yyyy-mm-dd hh:mm:ss] " and "[tid] ", as ConfigureLogging's "tstamp" and "thread" give.
inline const std::regex& TimeAndThreadPrefix() {
  static const std::regex re(
      R"(^\[\[([0-6])\] (\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\] \[([1-9a-f][0-9a-f]*)\] )");
  return re;
}

// The line without its time and thread prefix; the line itself when it has none.
inline std::string StripTimeAndThread(const std::string& line) {
  return std::regex_replace(line, TimeAndThreadPrefix(), "",
                            std::regex_constants::format_first_only);
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { talk_base::LogMessage::Reset(); }
  void TearDown() override {
    talk_base::LogMessage::Reset();  // closes the trace file before its folder goes
    dir_.reset();
  }

  // Every finished line at or above `min_sev` lands in lines_ (the sink runs under the logger's
  // lock, so threads may log concurrently).
  void Capture(talk_base::LoggingSeverity min_sev = talk_base::LS_SENSITIVE) {
    talk_base::LogMessage::SetSink(
        [this](talk_base::LoggingSeverity, const std::string& line) { lines_.push_back(line); },
        min_sev);
  }

  // A fresh empty folder, removed after the test.
  const std::filesystem::path& Dir() {
    if (!dir_) {
      dir_.emplace("log");
      dir_path_ = dir_->path();
    }
    return dir_path_;
  }

  std::vector<std::string> lines_;

 private:
  std::optional<norvo_test::TempDir> dir_;
  std::filesystem::path dir_path_;
};

}  // namespace logtest
