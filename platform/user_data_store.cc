#include "platform/user_data_store.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/atomic_file.h"
#include "platform/xdg_dirs.h"

namespace platform {

std::string UserDataFolder() {
  std::string config = ConfigHome();
  return config.empty() ? std::string() : config + "/NorvoHub";
}

std::string UserDataFilePath() {
  std::string folder = UserDataFolder();
  return folder.empty() ? std::string() : folder + "/UserData";
}

UserDataReadResult ReadUserDataFile(std::string* bytes) {
  bytes->clear();
  std::string folder = UserDataFolder();
  struct stat st {};
  if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return UserDataReadResult::kNoFolder;
  }
  switch (ReadWholeFile(UserDataFilePath(), kMaxUserDataFileSize, bytes)) {
    case ReadFileResult::kOk:
      return UserDataReadResult::kOk;
    case ReadFileResult::kMissing:
      return UserDataReadResult::kNoFile;
    case ReadFileResult::kNotAFile:
      return UserDataReadResult::kNotAFile;
    case ReadFileResult::kTooLarge:
      return UserDataReadResult::kTooLarge;
    case ReadFileResult::kReadFailed:
      break;
  }
  return UserDataReadResult::kReadFailed;
}

bool WriteUserDataFile(std::string_view bytes) {
  std::string folder = UserDataFolder();
  if (folder.empty()) {
    errno = ENOENT;
    return false;
  }
  if (!CreatePrivateFolder(folder)) return false;
  return WriteFileAtomically(UserDataFilePath(), bytes, 0600);
}

}  // namespace platform
