// The file that holds the hub's encrypted user data: $XDG_CONFIG_HOME/NorvoHub/UserData
// (by default ~/.config/NorvoHub/UserData), mode 0600, replaced whole and atomically on every save.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Larger files are not ours (the document of a very large library stays far below this).
constexpr size_t kMaxUserDataFileSize = 64 * 1024 * 1024;

// "$XDG_CONFIG_HOME/NorvoHub"; "" when no configuration folder is known.
std::string UserDataFolder();
// UserDataFolder() + "/UserData"; "" when no configuration folder is known.
std::string UserDataFilePath();

enum class UserDataReadResult {
  kOk,
  kNoFolder,    // no "NorvoHub" folder (first run) or no configuration folder at all
  kNoFile,      // the folder without a "UserData" file
  kNotAFile,    // "UserData" is a folder or a special file
  kTooLarge,    // larger than kMaxUserDataFileSize
  kReadFailed,  // permission or I/O error
};

UserDataReadResult ReadUserDataFile(std::string* bytes);
// Creates the folder (mode 0700) when needed and replaces the file atomically; false (errno set)
// when the bytes could not be stored, in which case the previous file is unchanged.
bool WriteUserDataFile(std::string_view bytes);

}  // namespace platform
