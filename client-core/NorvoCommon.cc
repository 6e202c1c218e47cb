#include "client-core/NorvoCommon.h"

#include "client-core/NorvoGlobalContext.h"
#include "messaging/base/logging.h"

namespace NorvoCommon {

namespace {

// Room for the trace file's name, terminator included. The path is kept whole: a path cut to
// some capacity would name another file, possibly outside the user data folder.
constexpr size_t kNameCapacity = 512;

struct LevelConfig {
  const char* params;
  const char* name;
};

constexpr LevelConfig kLevels[] = {
    {"tstamp thread verbose file", "DEBUG"},
    {"tstamp thread info file", "INFO"},
    {"tstamp thread warning file", "WARN"},
    {"tstamp thread error file", "ERROR"},
    {"none", "NONE"},
};

}  // namespace

std::string TraceFileName(time_t when) {
  struct tm tm;
  ::localtime_r(&when, &tm);
  char name[kNameCapacity];
  size_t n = ::strftime(name, sizeof(name), "norvo_hub_trace_%Y-%m-%d_%H%M%S.log", &tm);
  return std::string(name, n);
}

std::string ConfigureLoggingInFolder(int logging_level, const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path.push_back('/');
  path += TraceFileName(::time(nullptr));

  // An unknown level configures nothing; its confirmation names the file instead of a level.
  std::string level_name = path;
  if (logging_level >= 0 && logging_level <= NORVO_LOG_LEVEL_NONE) {
    const LevelConfig& level = kLevels[logging_level];
    talk_base::LogMessage::ConfigureLogging(level.params, path.c_str());
    level_name = level.name;
  }
  talk_base::LogMessage::LogTimestamps(true);

  for (auto sev :
       {talk_base::LS_VERBOSE, talk_base::LS_INFO, talk_base::LS_WARNING, talk_base::LS_ERROR}) {
    LOG_V(sev) << "NorvoCommon::ConfigureLogging - Done, level is: " << level_name
               << ", log file path: " << path;
  }
  return path;
}

void ConfigureLogging(int logging_level) {
  const char* folder = NorvoGlobalContext::GetAppUserDataDir();
  ConfigureLoggingInFolder(logging_level, folder ? folder : "");
}

}  // namespace NorvoCommon
