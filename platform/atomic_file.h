// Whole-file writes that never leave a half-written file behind, and bounded whole-file reads.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Replaces the file at `path` with `bytes`: writes a temporary file beside it with `mode`,
// flushes it to disk, renames it over `path` and flushes the folder. When anything fails the
// previous file is left as it was, the temporary file is removed, errno tells why and the result
// is false. The folder must exist.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode);

enum class ReadFileResult {
  kOk,
  kMissing,     // no such file
  kNotAFile,    // a folder, a device, ...
  kTooLarge,    // more than max_size bytes
  kReadFailed,  // permission, I/O error (errno tells)
};

// Reads a regular file of at most `max_size` bytes into `out`.
ReadFileResult ReadWholeFile(const std::string& path, size_t max_size, std::string* out);

}  // namespace platform
