#include "platform/single_instance.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "messaging/base/logging.h"
#include "platform/xdg_dirs.h"

namespace platform {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownReply[] = "shown\n";
// A peer that connects and then says nothing must not hold the listener up.
constexpr int kRequestTimeoutMs = 1000;

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof(*addr));
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A connected, non-blocking local socket; -1 when nobody listens.
int ConnectTo(const std::string& path) {
  sockaddr_un addr{};
  if (!FillAddress(path, &addr)) return -1;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Reads until a newline, `max` bytes or the deadline; "" on time-out or error.
std::string ReadLine(int fd, size_t max, int timeout_ms) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (line.size() < max && (line.empty() || line.back() != '\n')) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return std::string();
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return std::string();
    char buf[64];
    ssize_t n = recv(fd, buf, std::min(sizeof(buf), max - line.size()), 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  return line;
}

bool SendAll(int fd, const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    ssize_t n = send(fd, text, left, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, kRequestTimeoutMs) <= 0) return false;
        continue;
      }
      return false;
    }
    text += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

bool ProcessAlive(pid_t pid) { return kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

std::string ExecutableName(pid_t pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buf[4096];
  ssize_t n = readlink(link.c_str(), buf, sizeof(buf) - 1);
  if (n <= 0) return std::string();
  std::string path(buf, static_cast<size_t>(n));
  // A copy whose file was replaced (a new build) is still the same program.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.resize(path.size() - deleted.size());
  }
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CurrentExecutableName() { return ExecutableName(getpid()); }

std::vector<pid_t> FindOtherProcessesNamed(const std::string& name) {
  std::vector<pid_t> found;
  if (name.empty()) return found;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return found;
  const pid_t self = getpid();
  const uid_t uid = getuid();
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid <= 0 || pid == self) continue;
    struct stat st {};
    std::string proc_dir = std::string("/proc/") + entry->d_name;
    if (stat(proc_dir.c_str(), &st) != 0 || st.st_uid != uid) continue;
    if (ExecutableName(static_cast<pid_t>(pid)) == name) found.push_back(static_cast<pid_t>(pid));
  }
  closedir(dir);
  return found;
}

std::string InstanceSocketPath(const std::string& exe_name) {
  std::string runtime = RuntimeDir();
  if (runtime.empty() || exe_name.empty()) return std::string();
  std::string path = runtime + "/" + exe_name + ".socket";
  sockaddr_un addr{};
  return FillAddress(path, &addr) ? path : std::string();
}

bool AskInstanceToShow(const std::string& socket_path, int timeout_ms) {
  int fd = ConnectTo(socket_path);
  if (fd < 0) return false;
  bool shown =
      SendAll(fd, kShowRequest) && ReadLine(fd, sizeof(kShownReply), timeout_ms) == kShownReply;
  close(fd);
  return shown;
}

InstanceListener::~InstanceListener() { Stop(); }

InstanceListener::BindResult InstanceListener::Bind(const std::string& socket_path) {
  Stop();
  sockaddr_un addr{};
  if (!FillAddress(socket_path, &addr)) {
    errno = ENAMETOOLONG;
    return BindResult::kFailed;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return BindResult::kFailed;
  auto try_bind = [&]() { return bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0; };
  if (!try_bind()) {
    if (errno != EADDRINUSE) {
      int saved = errno;
      close(fd);
      errno = saved;
      return BindResult::kFailed;
    }
    int probe = ConnectTo(socket_path);
    if (probe >= 0) {
      close(probe);
      close(fd);
      return BindResult::kInUse;
    }
    // Nobody listens: the file is what a copy that was killed left behind.
    unlink(socket_path.c_str());
    if (!try_bind()) {
      int saved = errno;
      close(fd);
      errno = saved;
      return BindResult::kFailed;
    }
  }
  struct stat st {};
  if (listen(fd, 8) != 0 || stat(socket_path.c_str(), &st) != 0 || pipe2(stop_pipe_, O_CLOEXEC)) {
    int saved = errno;
    close(fd);
    unlink(socket_path.c_str());
    stop_pipe_[0] = stop_pipe_[1] = -1;
    errno = saved;
    return BindResult::kFailed;
  }
  listen_fd_ = fd;
  path_ = socket_path;
  inode_ = st.st_ino;
  return BindResult::kBound;
}

bool InstanceListener::Serve(std::function<void()> on_show) {
  if (listen_fd_ < 0 || thread_.joinable()) return false;
  on_show_ = std::move(on_show);
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void InstanceListener::Stop() {
  if (thread_.joinable()) {
    char byte = 1;
    while (write(stop_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int& fd : stop_pipe_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    listen_fd_ = -1;
    // Only our own socket file goes; a later copy may already have put its own there.
    struct stat st {};
    if (stat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
  }
}

void InstanceListener::Loop() {
  while (true) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      LOG_ERRNO(LS_ERROR) << "platform::InstanceListener::Loop - poll failed";
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    int conn = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (conn < 0) continue;
    Answer(conn);
    close(conn);
  }
}

void InstanceListener::Answer(int fd) {
  ucred cred{};
  socklen_t len = sizeof(cred);
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != getuid()) {
    LOG(LS_WARNING) << "platform::InstanceListener::Answer - request from another user ignored";
    return;
  }
  std::string request = ReadLine(fd, 64, kRequestTimeoutMs);
  if (request != kShowRequest) return;  // a probe, or noise
  LOG(LS_INFO) << "platform::InstanceListener::Answer - another copy (pid " << cred.pid
               << ") asks to show the window";
  if (on_show_) on_show_();
  ++served_;
  SendAll(fd, kShownReply);
}

bool CheckAndShowIfRunning(const std::string& exe_name, const std::string& socket_path,
                           InstanceListener* listener, int wait_ms) {
  std::vector<pid_t> others = FindOtherProcessesNamed(exe_name);
  if (!others.empty()) {
    LOG(LS_INFO) << "platform::CheckAndShowIfRunning - " << others.size()
                 << " other process(es) named " << exe_name << ", first pid " << others.front();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (true) {
      if (AskInstanceToShow(socket_path, kRequestTimeoutMs)) {
        LOG(LS_INFO) << "platform::CheckAndShowIfRunning - the running copy shows its window";
        return true;
      }
      bool any_alive = false;
      for (pid_t pid : others) any_alive = any_alive || ProcessAlive(pid);
      if (!any_alive || std::chrono::steady_clock::now() >= deadline) break;
      // It may still be starting, before its socket is up.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    LOG(LS_WARNING) << "platform::CheckAndShowIfRunning - no copy answers at \"" << socket_path
                    << "\" (another session's, or one that hangs); starting normally";
  }
  if (listener == nullptr || socket_path.empty()) {
    if (socket_path.empty()) {
      LOG(LS_WARNING) << "platform::CheckAndShowIfRunning - no runtime folder, a later copy "
                         "cannot reach this one";
    }
    return false;
  }
  switch (listener->Bind(socket_path)) {
    case InstanceListener::BindResult::kBound:
      return false;
    case InstanceListener::BindResult::kInUse:
      // A copy started at the same moment won the socket.
      if (AskInstanceToShow(socket_path, kRequestTimeoutMs)) return true;
      LOG(LS_WARNING) << "platform::CheckAndShowIfRunning - the copy at \"" << socket_path
                      << "\" does not answer";
      return false;
    case InstanceListener::BindResult::kFailed:
      break;
  }
  LOG_ERRNO(LS_WARNING) << "platform::CheckAndShowIfRunning - cannot listen at \"" << socket_path
                        << "\"";
  return false;
}

}  // namespace platform
