// The stream-style logger of the messaging layer.
//
//   LOG(LS_INFO) << "Foo::Bar - something happened: " << value;
//
// A statement below the configured level costs one integer comparison: the stream, the
// formatting and the line are never built. Logging starts switched off; ConfigureLogging turns
// it on. Lines go to the trace file (and, for tests, to an installed sink) with the prefix
//   [[w] yyyy-mm-dd hh:mm:ss] [tid] Severity(file.cc:line): message
// where the time part appears with LogTimestamps(true), the thread part with the "thread" word,
// and the severity with its source position only for warnings and errors.
#pragma once

#include <atomic>
#include <cerrno>
#include <functional>
#include <sstream>
#include <string>

namespace talk_base {

enum LoggingSeverity {
  LS_SENSITIVE = 0,
  LS_VERBOSE = 1,
  LS_INFO = 2,
  LS_WARNING = 3,
  LS_ERROR = 4,
  // Above every severity: nothing is recorded.
  LS_NONE = 5,
  // Aliases used by the macros.
  INFO = LS_INFO,
  WARNING = LS_WARNING,
  LERROR = LS_ERROR,
};

class LogMessage {
 public:
  LogMessage(const char* file, int line, LoggingSeverity sev);
  // Adds " : " + the text of errno value `err` after the message (a system error context).
  LogMessage(const char* file, int line, LoggingSeverity sev, int err);
  ~LogMessage();  // writes the line
  LogMessage(const LogMessage&) = delete;
  LogMessage& operator=(const LogMessage&) = delete;

  std::ostream& stream() { return print_stream_; }

  // The lowest severity any target records; LS_NONE while logging is off.
  static int GetMinLogSeverity() { return min_sev_.load(std::memory_order_relaxed); }
  static bool Loggable(LoggingSeverity sev) {
    return sev >= min_sev_.load(std::memory_order_relaxed);
  }

  // Parses words of `params`: "tstamp", "thread", a severity word ("sensitive", "verbose",
  // "info", "warning", "error", "none"), "file" (the trace file records from the current level
  // upwards) and "debug" (standard error records from the current level upwards). The current
  // level starts at verbose; unknown words are ignored. With "file" the file at `filename`
  // replaces any earlier trace file: it is created or truncated and written unbuffered, one
  // write(2) per whole line; if it cannot be created there is no file target. Without "file" an
  // earlier trace file stays as it was.
  static void ConfigureLogging(const char* params, const char* filename);
  static void LogTimestamps(bool on);
  static void LogThreads(bool on);

  // Switches everything off and closes the trace file (start-up state). For tests.
  static void Reset();
  // An extra target that receives every finished line (prefix included, no newline) at or
  // above `min_sev`. An empty function removes it. For tests and tools. The sink runs under the
  // logger's lock, one line at a time, and must not log itself.
  using Sink = std::function<void(LoggingSeverity sev, const std::string& line)>;
  static void SetSink(Sink sink, LoggingSeverity min_sev);

  // A line whose writing takes this many milliseconds or more produces the warning
  // "Slow log: took <n>ms to write <m> bytes.".
  static constexpr int kSlowLogMs = 50;

 private:
  // A relaxed atomic: reading it is the one comparison a dropped statement costs.
  static std::atomic<int> min_sev_;

  LoggingSeverity severity_;
  std::ostringstream print_stream_;
  std::string extra_;
  // Set on the "Slow log" warning itself so a stalled target cannot make it recurse.
  bool slow_warning_ = false;
};

// Turns the stream expression of the macros into void; `&` binds looser than `<<`.
class LogMessageVoidify {
 public:
  void operator&(std::ostream&) {}
};

// Base name of a source path: the text after its last '/' or '\'.
const char* FileBaseName(const char* path);

}  // namespace talk_base

// The macros are one expression ("cond ? (void)0 : voidify & stream"), not an if/else, so that
// `if (x) LOG(LS_INFO) << ...;` neither warns about a dangling else nor captures a following else.
#define LOG_V(sev)                         \
  !::talk_base::LogMessage::Loggable(sev)  \
      ? (void)0                            \
      : ::talk_base::LogMessageVoidify() & \
            ::talk_base::LogMessage(__FILE__, __LINE__, sev).stream()

#define LOG(sev) LOG_V(::talk_base::sev)

// With the text of errno appended as the system error context.
#define LOG_ERRNO(sev)                                 \
  !::talk_base::LogMessage::Loggable(::talk_base::sev) \
      ? (void)0                                        \
      : ::talk_base::LogMessageVoidify() &             \
            ::talk_base::LogMessage(__FILE__, __LINE__, ::talk_base::sev, errno).stream()
