#include "client-core/NorvoLogger.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "messaging/base/logging.h"

namespace {

// Guards the format buffer below; every caller formats into the same bytes.
std::mutex& LoggerMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: logging may run during exit
  return *mutex;
}

char g_format_buffer[NorvoLogger::kMaxMessage + 1];

}  // namespace

void NorvoLogger::InitIfNeeded() {
  // std::mutex cannot fail to come into being, so the set-up only announces itself, once.
  static std::once_flag once;
  std::call_once(once, [] { LOG(LS_VERBOSE) << "NorvoLogger::InitIfNeeded - OK"; });
}

void NorvoLogger::Write(int severity, const char* prefix, const char* format, va_list args) {
  InitIfNeeded();
  auto sev = static_cast<talk_base::LoggingSeverity>(severity);
  if (!talk_base::LogMessage::Loggable(sev)) return;
  std::lock_guard<std::mutex> lock(LoggerMutex());
  size_t used = std::strlen(prefix);
  std::memcpy(g_format_buffer, prefix, used);
  // vsnprintf never writes past the buffer and always terminates it: longer texts are cut.
  int n = std::vsnprintf(g_format_buffer + used, sizeof(g_format_buffer) - used, format, args);
  if (n < 0) g_format_buffer[used] = '\0';  // an encoding error leaves just the prefix
  LOG_V(sev) << g_format_buffer;
}

#define NORVO_LOGGER_WRITE(severity, prefix) \
  va_list args;                              \
  va_start(args, format);                    \
  Write(severity, prefix, format, args);     \
  va_end(args)

void NorvoLogger::Debug(const char* format, ...) { NORVO_LOGGER_WRITE(talk_base::LS_VERBOSE, ""); }

void NorvoLogger::Info(const char* format, ...) { NORVO_LOGGER_WRITE(talk_base::LS_INFO, ""); }

void NorvoLogger::Warn(const char* format, ...) { NORVO_LOGGER_WRITE(talk_base::LS_WARNING, ""); }

void NorvoLogger::Error(const char* format, ...) { NORVO_LOGGER_WRITE(talk_base::LS_ERROR, ""); }

void NorvoLogger::Fatal(const char* format, ...) {
  NORVO_LOGGER_WRITE(talk_base::LS_ERROR, "FATAL - ");
  std::abort();
}
