// Process-wide helpers of the hub. This header holds the logging set-up; the client event
// logger, NorvoCommon::LogNorvoEvent, is declared with the client's own types.
#pragma once

#include <ctime>
#include <string>

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
// "norvo_hub_trace_<yyyy-mm-dd>_<hhmmss>.log" in the user data folder of the settings record,
// turns time stamps on and writes the confirmation line at every severity. A level outside 0..4
// configures nothing. Called once, at start-up.
void ConfigureLogging(int logging_level);

// The same in `folder` (a '/' is put between folder and name when `folder` is not empty and does
// not end in one). Returns the trace file's path, whether or not a file was opened.
std::string ConfigureLoggingInFolder(int logging_level, const std::string& folder);

// The trace file name for the local time `when`.
std::string TraceFileName(time_t when);

}  // namespace NorvoCommon
