#include "platform/xdg_dirs.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace platform {

namespace {

std::string AbsoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  // The rules say a relative value is invalid and must be ignored.
  if (value == nullptr || value[0] != '/') return std::string();
  std::string path(value);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string UnderHome(const char* rest) {
  std::string home = HomeDir();
  if (home.empty()) return std::string();
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return home == "/" ? std::string(rest) : home + rest;
}

}  // namespace

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) != 0 || result == nullptr ||
      pw.pw_dir == nullptr) {
    return std::string();
  }
  return pw.pw_dir;
}

std::string ConfigHome() {
  std::string dir = AbsoluteEnv("XDG_CONFIG_HOME");
  return dir.empty() ? UnderHome("/.config") : dir;
}

std::string DataHome() {
  std::string dir = AbsoluteEnv("XDG_DATA_HOME");
  return dir.empty() ? UnderHome("/.local/share") : dir;
}

std::string RuntimeDir() {
  std::string dir = AbsoluteEnv("XDG_RUNTIME_DIR");
  if (!dir.empty()) return dir;
  std::string fallback = "/tmp/norvo-" + std::to_string(getuid());
  if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  struct stat st {};
  // Somebody else may have made the name first in the shared /tmp: only our own closed folder
  // is safe for a socket that controls the hub.
  if (lstat(fallback.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
      (st.st_mode & 077) != 0) {
    return std::string();
  }
  return fallback;
}

bool CreatePrivateFolder(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (part.empty()) continue;
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace platform
