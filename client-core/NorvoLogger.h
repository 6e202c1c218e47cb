// printf-style front end of the stream logger, for code that formats its own lines.
//
//   NorvoLogger::Info("NorvoCoreClient::Start - state %d", state);
//
// Severities: Debug verbose, Info info, Warn warning, Error and Fatal error. A call below the
// configured level costs one comparison. Formatting shares one process-wide buffer under a
// mutex; a message longer than kMaxMessage characters is cut there.
#pragma once

#include <cstdarg>

class NorvoLogger {
 public:
  // The longest message that survives formatting (the buffer holds one more byte, the NUL).
  static constexpr int kMaxMessage = 2047;

  static void Debug(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static void Info(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static void Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static void Error(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Writes "FATAL - " + the message at error level, then aborts the process. Only for states the
  // program's own code cannot produce; never for anything real input can cause.
  [[noreturn]] static void Fatal(const char* format, ...) __attribute__((format(printf, 1, 2)));

 private:
  static void InitIfNeeded();
  static void Write(int severity, const char* prefix, const char* format, va_list args)
      __attribute__((format(printf, 3, 0)));
};
