// Helpers of the host tests: a private temporary folder, environment overrides that are undone,
// small file helpers and a child process with its own environment.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/common/temp_dir.h"

namespace host_test {

using TempDir = norvo_test::TempDir;

// Sets (or, with nullopt, unsets) environment variables and restores them when it goes.
class ScopedEnv {
 public:
  explicit ScopedEnv(const std::map<std::string, std::optional<std::string>>& values);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// Points HOME and every XDG folder into `dir` (runtime folder with mode 0700).
std::map<std::string, std::optional<std::string>> XdgEnvUnder(const std::string& dir);

bool WriteFile(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadFile(const std::string& path);
std::vector<std::string> ListFolder(const std::string& path);  // names, sorted
bool Exists(const std::string& path);
mode_t ModeOf(const std::string& path);  // permission bits; 0 when absent

// A child process started with the current environment plus `env` (nullopt unsets), its output
// (stdout and stderr) going to `output_path`.
class Child {
 public:
  Child(const std::string& program, const std::vector<std::string>& args,
        const std::map<std::string, std::optional<std::string>>& env,
        const std::string& output_path);
  ~Child();  // kills a child still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool Running();
  // The exit status, or nullopt when the child has not ended within `timeout_ms` (it is then
  // left running) or ended by a signal (then -signal).
  std::optional<int> WaitExit(int timeout_ms);
  void Signal(int sig);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Polls `condition` every 20 ms until it holds or `timeout_ms` passed. Used to wait for a state,
// never to measure speed: the bound only keeps a broken build from hanging the suite.
template <typename F>
bool WaitFor(F condition, int timeout_ms);

}  // namespace host_test

#include <chrono>
#include <thread>

template <typename F>
bool host_test::WaitFor(F condition, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
