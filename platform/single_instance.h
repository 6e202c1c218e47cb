// One hub per user session. A copy is recognised by its executable name (read from /proc); the
// first copy listens on the local socket $XDG_RUNTIME_DIR/<executable name>.socket, and a later
// copy asks it there to show its window, then ends.
//
//   platform::InstanceListener listener;
//   if (platform::CheckAndShowIfRunning(platform::CurrentExecutableName(),
//                                       platform::InstanceSocketPath(name), &listener, 1500))
//     return 0;                       // the other copy shows its window
//   ... create the window ...
//   listener.Serve([&] { /* post "show the window" to the window thread */ });
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

// The file name of a process's executable ("" when it cannot be read, e.g. another user's).
std::string ExecutableName(pid_t pid);
std::string CurrentExecutableName();
// Processes of this user, other than this one, whose executable name is `name`.
std::vector<pid_t> FindOtherProcessesNamed(const std::string& name);
// RuntimeDir() + "/" + name + ".socket"; "" without a runtime folder or when the path is too long
// for a local socket.
std::string InstanceSocketPath(const std::string& exe_name);

// Asks the copy listening at `socket_path` to show its window. True when it confirmed within
// `timeout_ms`.
bool AskInstanceToShow(const std::string& socket_path, int timeout_ms);

class InstanceListener {
 public:
  enum class BindResult {
    kBound,   // this process owns the socket now
    kInUse,   // a live copy listens there
    kFailed,  // no socket (errno tells)
  };

  InstanceListener() = default;
  ~InstanceListener();  // Stop()
  InstanceListener(const InstanceListener&) = delete;
  InstanceListener& operator=(const InstanceListener&) = delete;

  // Takes the socket; a file left there by a copy that ended is replaced. Requests that arrive
  // before Serve wait in the socket's queue.
  BindResult Bind(const std::string& socket_path);
  // Answers requests on a thread of its own; `on_show` runs on that thread for each request.
  bool Serve(std::function<void()> on_show);
  // Ends the thread and removes the socket file. Safe to call more than once.
  void Stop();

  bool bound() const { return listen_fd_ >= 0; }
  // Requests answered so far.
  int served() const { return served_.load(); }

 private:
  void Loop();
  void Answer(int fd);

  std::string path_;
  ino_t inode_ = 0;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::function<void()> on_show_;
  std::thread thread_;
  std::atomic<int> served_{0};
};

// True when another copy of `exe_name` runs in this session and was asked to show its window.
// Otherwise false, with `listener` bound when the socket could be taken. A process of the same
// name that does not answer within `wait_ms` (another session's copy, one that hangs) is logged
// and not counted.
bool CheckAndShowIfRunning(const std::string& exe_name, const std::string& socket_path,
                           InstanceListener* listener, int wait_ms);

}  // namespace platform
