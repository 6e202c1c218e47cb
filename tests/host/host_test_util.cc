#include "tests/host/host_test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace host_test {

ScopedEnv::ScopedEnv(const std::map<std::string, std::optional<std::string>>& values) {
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

std::map<std::string, std::optional<std::string>> XdgEnvUnder(const std::string& dir) {
  std::string runtime = dir + "/run";
  mkdir(runtime.c_str(), 0700);
  return {{"HOME", dir},
          {"XDG_CONFIG_HOME", dir + "/config"},
          {"XDG_DATA_HOME", dir + "/data"},
          {"XDG_RUNTIME_DIR", runtime}};
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(path, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

Child::Child(const std::string& program, const std::vector<std::string>& args,
             const std::map<std::string, std::optional<std::string>>& env,
             const std::string& output_path) {
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) env_strings.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (value) env_strings.push_back(name + "=" + *value);
  }
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings = {program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int st = 0;
    waitpid(pid_, &st, 0);
  }
}

bool Child::Running() {
  if (pid_ <= 0 || status_) return false;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == 0) return true;
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
  return false;
}

std::optional<int> Child::WaitExit(int timeout_ms) {
  WaitFor([this] { return !Running(); }, timeout_ms);
  return status_;
}

void Child::Signal(int sig) {
  if (pid_ > 0 && !status_) kill(pid_, sig);
}

}  // namespace host_test
