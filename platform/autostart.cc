#include "platform/autostart.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/xdg_dirs.h"

namespace platform {

std::string CurrentExecutablePath() {
  std::vector<char> buf(4096);
  while (true) {
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string AutostartEntryPath() {
  std::string config = ConfigHome();
  return config.empty() ? std::string() : config + "/autostart/norvo-hub.desktop";
}

std::string AutostartExecLine(const std::string& exe_path) {
  if (exe_path.empty()) return std::string();
  bool needs_quotes = false;
  for (unsigned char c : exe_path) {
    if (c < 0x20 || c == 0x7F) return std::string();
    if (std::strchr(" \t\"'\\><~|&;$*?#()`", c) != nullptr) needs_quotes = true;
  }
  // An argument with reserved characters goes in double quotes, where ", `, $ and \ take a
  // backslash; a literal % is doubled (field codes).
  std::string arg;
  if (needs_quotes) arg += '"';
  for (char c : exe_path) {
    if (needs_quotes && std::strchr("\"`$\\", c) != nullptr) arg += '\\';
    if (c == '%') arg += '%';
    arg += c;
  }
  if (needs_quotes) arg += '"';
  arg += " auto";
  // The value itself is a desktop-entry string, whose own escape for a backslash is "\\".
  std::string value;
  for (char c : arg) {
    if (c == '\\') value += '\\';
    value += c;
  }
  return value;
}

bool WriteAutostartEntry(const std::string& exe_path) {
  std::string entry_path = AutostartEntryPath();
  std::string exec = AutostartExecLine(exe_path);
  if (entry_path.empty() || exec.empty()) {
    errno = EINVAL;
    return false;
  }
  if (!CreatePrivateFolder(entry_path.substr(0, entry_path.rfind('/')))) return false;
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Norvo Music Hub\n"
      "Comment=Serves your music library to your phones\n"
      "Exec=" +
      exec +
      "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  return WriteFileAtomically(entry_path, text, 0644);
}

}  // namespace platform
