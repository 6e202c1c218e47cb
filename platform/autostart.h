// Start at log-on: the XDG autostart entry $XDG_CONFIG_HOME/autostart/norvo-hub.desktop, whose
// command is the executable's full path followed by " auto".
#pragma once

#include <string>

namespace platform {

// The full path of the running executable (from /proc/self/exe); "" when unknown.
std::string CurrentExecutablePath();
// The entry's path; "" when no configuration folder is known.
std::string AutostartEntryPath();
// The Exec value that runs `exe_path` with the argument "auto", quoted and escaped as desktop
// entries require; "" when the path cannot be expressed (a newline or other control character).
std::string AutostartExecLine(const std::string& exe_path);
// Writes (or replaces) the entry for `exe_path`. False, with errno set, when it cannot be written.
bool WriteAutostartEntry(const std::string& exe_path);

}  // namespace platform
