#include "messaging/base/logging.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sstream>

namespace talk_base {

namespace {

// Everything the logger knows about its targets. One instance, guarded by `mutex`; the effective
// lowest level is mirrored into LogMessage::min_sev_ so the macros can test it without a lock.
struct LogState {
  std::mutex mutex;
  // Read without the mutex by every message being built.
  std::atomic<bool> timestamps{false};
  std::atomic<bool> threads{false};
  int file_fd = -1;
  int file_sev = LS_NONE;
  int stderr_sev = LS_NONE;
  LogMessage::Sink sink;
  int sink_sev = LS_NONE;
};

LogState& State() {
  // Never destroyed: threads may still log while static destructors run at exit.
  static LogState* state = new LogState;
  return *state;
}

const char* SeverityName(LoggingSeverity sev) {
  switch (sev) {
    case LS_SENSITIVE:
      return "Sensitive";
    case LS_VERBOSE:
      return "Verbose";
    case LS_INFO:
      return "Info";
    case LS_WARNING:
      return "Warning";
    case LS_ERROR:
      return "Error";
    default:
      return "None";
  }
}

// The kernel's id of the calling thread: the number tools such as top and gdb show.
long CurrentThreadId() {
  thread_local long tid = static_cast<long>(::syscall(SYS_gettid));
  return tid;
}

std::string ErrnoText(int err) {
  char buf[256];
  // The GNU variant returns a pointer that may or may not be `buf`.
  const char* text = ::strerror_r(err, buf, sizeof(buf));
  return text ? std::string(text) : std::string();
}

// Writes all of `data` with as few write(2) calls as the kernel allows (one, for a regular file).
void WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a broken target loses the line; logging must never fail the caller
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

// Whether a target set to `target_sev` takes a line of `sev`; a target at LS_NONE takes nothing,
// not even a line someone wrote at LS_NONE.
bool Records(int target_sev, int sev) { return target_sev < LS_NONE && sev >= target_sev; }

// Recomputes the lowest level any live target records. Called with the state's mutex held.
int LowestTargetSeverity(const LogState& s) {
  int min_sev = LS_NONE;
  if (s.file_fd >= 0 && s.file_sev < min_sev) min_sev = s.file_sev;
  if (s.stderr_sev < min_sev) min_sev = s.stderr_sev;
  if (s.sink && s.sink_sev < min_sev) min_sev = s.sink_sev;
  return min_sev;
}

void CloseFileLocked(LogState& s) {
  if (s.file_fd >= 0) ::close(s.file_fd);
  s.file_fd = -1;
  s.file_sev = LS_NONE;
}

}  // namespace

std::atomic<int> LogMessage::min_sev_{LS_NONE};

LogMessage::LogMessage(const char* file, int line, LoggingSeverity sev) : severity_(sev) {
  LogState& s = State();
  if (s.timestamps.load(std::memory_order_relaxed)) {
    time_t now = ::time(nullptr);
    struct tm tm;
    ::localtime_r(&now, &tm);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "[[%d] %d-%02d-%02d %02d:%02d:%02d] ", tm.tm_wday,
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    print_stream_ << buf;
  }
  if (s.threads.load(std::memory_order_relaxed)) {
    char buf[32];
    std::snprintf(buf, sizeof(buf), "[%lx] ", CurrentThreadId());
    print_stream_ << buf;
  }
  if (sev >= LS_WARNING) {
    print_stream_ << SeverityName(sev) << "(" << FileBaseName(file) << ":" << line << "): ";
  }
}

LogMessage::LogMessage(const char* file, int line, LoggingSeverity sev, int err)
    : LogMessage(file, line, sev) {
  extra_ = ErrnoText(err);
}

LogMessage::~LogMessage() {
  if (!extra_.empty()) print_stream_ << " : " << extra_;
  std::string line = print_stream_.str();

  LogState& s = State();
  std::chrono::steady_clock::time_point started;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    // Waiting for other threads' lines is not this line's slowness: time only the writing.
    started = std::chrono::steady_clock::now();
    if (s.file_fd >= 0 && Records(s.file_sev, severity_)) {
      line.push_back('\n');
      WriteAll(s.file_fd, line.data(), line.size());
      line.pop_back();
    }
    if (Records(s.stderr_sev, severity_)) {
      line.push_back('\n');
      WriteAll(STDERR_FILENO, line.data(), line.size());
      line.pop_back();
    }
    if (s.sink && Records(s.sink_sev, severity_)) s.sink(severity_, line);
  }
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - started)
                  .count();
  // The warning about a slow line is itself never checked, or a stalled disk would recurse.
  if (took >= kSlowLogMs && !slow_warning_ && Loggable(LS_WARNING)) {
    LogMessage warning(__FILE__, __LINE__, LS_WARNING);
    warning.slow_warning_ = true;
    warning.stream() << "Slow log: took " << took << "ms to write " << line.size() + 1 << " bytes.";
  }
}

void LogMessage::ConfigureLogging(const char* params, const char* filename) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  int current = LS_VERBOSE;
  int file_sev = s.file_fd >= 0 ? s.file_sev : LS_NONE;
  bool want_file = false;
  std::istringstream words(params ? params : "");
  std::string word;
  while (words >> word) {
    if (word == "tstamp") {
      s.timestamps = true;
    } else if (word == "thread") {
      s.threads = true;
    } else if (word == "sensitive") {
      current = LS_SENSITIVE;
    } else if (word == "verbose") {
      current = LS_VERBOSE;
    } else if (word == "info") {
      current = LS_INFO;
    } else if (word == "warning") {
      current = LS_WARNING;
    } else if (word == "error") {
      current = LS_ERROR;
    } else if (word == "none") {
      current = LS_NONE;
    } else if (word == "file") {
      file_sev = current;
      want_file = true;
    } else if (word == "debug") {
      s.stderr_sev = current;
    }
  }
  if (want_file) {
    CloseFileLocked(s);
    if (file_sev < LS_NONE && filename && *filename) {
      int fd = ::open(filename, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_APPEND, 0644);
      if (fd >= 0) {
        s.file_fd = fd;
        s.file_sev = file_sev;
      }
    }
  }
  min_sev_.store(LowestTargetSeverity(s), std::memory_order_relaxed);
}

void LogMessage::LogTimestamps(bool on) { State().timestamps = on; }

void LogMessage::LogThreads(bool on) { State().threads = on; }

void LogMessage::Reset() {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  CloseFileLocked(s);
  s.timestamps = false;
  s.threads = false;
  s.stderr_sev = LS_NONE;
  s.sink = nullptr;
  s.sink_sev = LS_NONE;
  min_sev_.store(LowestTargetSeverity(s), std::memory_order_relaxed);
}

void LogMessage::SetSink(Sink sink, LoggingSeverity min_sev) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.sink = std::move(sink);
  s.sink_sev = s.sink ? min_sev : LS_NONE;
  min_sev_.store(LowestTargetSeverity(s), std::memory_order_relaxed);
}

const char* FileBaseName(const char* path) {
  if (!path) return "";
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

}  // namespace talk_base
