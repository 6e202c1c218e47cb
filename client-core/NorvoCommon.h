// Process-wide helpers of the hub. This header holds the logging set-up; the client event
// logger, NorvoCommon::LogNorvoEvent, is declared with the client's own types.
#pragma once

#include <ctime>
#include <string>

namespace NorvoGlobalContext {
// The per-user data folder from the settings record (client-core/NorvoGlobalContext.h).
const char* GetAppUserDataDir();
}  // namespace NorvoGlobalContext

namespace NorvoCommon {

// Diagnostic levels given on the command line.
enum NorvoLoggingLevel {
  NORVO_LOG_LEVEL_DEBUG = 0,
  NORVO_LOG_LEVEL_INFO = 1,
  NORVO_LOG_LEVEL_WARN = 2,
  NORVO_LOG_LEVEL_ERROR = 3,
  NORVO_LOG_LEVEL_NONE = 4,
};

// Switches logging on at `logging_level` (0 verbose .. 3 error, 4 none) with a trace file
// `folder` + "norvo_hub_trace_<yyyy-mm-dd>_<hhmmss>.log" (a '/' is put between them when `folder`
// is not empty and does not end in one), turns time stamps on and writes the confirmation line
// at every severity. A level outside 0..4 configures nothing. Returns the trace file's path.
std::string ConfigureLoggingInFolder(int logging_level, const std::string& folder);

// The same in the user data folder of the settings record. Called once, at start-up. Inline so
// that code which configures a folder of its own does not need the settings context linked.
inline void ConfigureLogging(int logging_level) {
  const char* folder = NorvoGlobalContext::GetAppUserDataDir();
  ConfigureLoggingInFolder(logging_level, folder ? folder : "");
}

// The trace file name for the local time `when`.
std::string TraceFileName(time_t when);

}  // namespace NorvoCommon
