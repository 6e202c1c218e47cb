// The per-user folders of the XDG base directory rules, and folder creation for private data.
#pragma once

#include <string>

namespace platform {

// $HOME, or the account's home folder from the password database; "" when neither is known.
std::string HomeDir();
// $XDG_CONFIG_HOME when it is an absolute path, else HomeDir() + "/.config"; "" without a home.
// No trailing "/".
std::string ConfigHome();
// $XDG_DATA_HOME when absolute, else HomeDir() + "/.local/share"; "" without a home.
std::string DataHome();
// $XDG_RUNTIME_DIR when absolute. Without it, the private folder /tmp/norvo-<uid>, created with
// mode 0700 and used only when it is a real folder (not a link) owned by this user and closed to
// everybody else; "" when no safe folder is available.
std::string RuntimeDir();

// Creates `path` and its missing parents with mode 0700 (an existing folder is fine). False, with
// errno set, when a part cannot be created or is not a folder.
bool CreatePrivateFolder(const std::string& path);

}  // namespace platform
