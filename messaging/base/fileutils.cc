#include "messaging/base/fileutils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "messaging/base/helpers.h"
#include "messaging/base/logging.h"

namespace talk_base {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Pathname

Pathname::Pathname(const std::string& folder, const std::string& filename) {
  SetFolder(folder);
  SetFilename(filename);
}

void Pathname::SetPathname(const std::string& pathname) {
  const size_t slash = pathname.rfind('/');
  if (slash == std::string::npos) {
    folder_.clear();
    filename_ = pathname;
  } else {
    folder_ = pathname.substr(0, slash + 1);
    filename_ = pathname.substr(slash + 1);
  }
}

void Pathname::SetFolder(const std::string& folder) {
  folder_ = folder;
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

void Pathname::AppendFolder(const std::string& folder) {
  if (folder.empty()) return;
  if (!folder_.empty() && folder.front() == '/') {
    folder_.append(folder, 1, std::string::npos);
  } else {
    folder_ += folder;
  }
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

// A leading dot marks a hidden file, not an extension: ".profile" has none.
static size_t ExtensionStart(const std::string& filename) {
  const size_t dot = filename.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::string::npos;
  return dot;
}

std::string Pathname::basename() const {
  const size_t dot = ExtensionStart(filename_);
  return dot == std::string::npos ? filename_ : filename_.substr(0, dot);
}

std::string Pathname::extension() const {
  const size_t dot = ExtensionStart(filename_);
  return dot == std::string::npos ? std::string() : filename_.substr(dot);
}

// ---------------------------------------------------------------------------------------------
// Filesystem

std::string Filesystem::GetTemporaryFolder() {
  std::string folder;
  const char* env = getenv("TMPDIR");
  if (env != nullptr && *env != '\0') folder = env;
  if (folder.empty() || !IsFolder(folder)) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::string Filesystem::TempFilename(const std::string& folder, const std::string& prefix) {
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  // Random names make a clash practically impossible; a few tries cover the rest.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = CreateRandomString(12);
    for (char& c : name) {
      if (c == '/' || c == '+') c = '_';
    }
    std::string path = base + prefix + name;
    if (IsAbsent(path)) return path;
  }
  LOG(LS_ERROR) << "Filesystem::TempFilename - no free name in " << folder;
  return std::string();
}

bool Filesystem::GetFileSize(const std::string& path, size_t* size) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size != nullptr) *size = static_cast<size_t>(st.st_size);
  return true;
}

bool Filesystem::IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Filesystem::IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Filesystem::IsAbsent(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

bool Filesystem::CreateFolder(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) {
    LOG(LS_WARNING) << "Filesystem::CreateFolder - " << path << ": " << ec.message();
    return false;
  }
  return IsFolder(path);
}

bool Filesystem::CopyFile(const std::string& from, const std::string& to) {
  if (!IsFile(from)) return false;
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    LOG(LS_WARNING) << "Filesystem::CopyFile - " << from << " to " << to << ": " << ec.message();
    return false;
  }
  return true;
}

bool Filesystem::MoveFile(const std::string& from, const std::string& to) {
  if (!IsFile(from)) return false;
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) {
    LOG_ERRNO(LS_WARNING) << "Filesystem::MoveFile - " << from << " to " << to;
    return false;
  }
  // Across file systems: copy, then remove the original only once the copy is complete.
  if (!CopyFile(from, to)) return false;
  if (!DeleteFile(from)) {
    LOG(LS_WARNING) << "Filesystem::MoveFile - copied, but could not remove " << from;
  }
  return true;
}

bool Filesystem::DeleteFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return unlink(path.c_str()) == 0;
}

bool Filesystem::DeleteEmptyFolder(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return rmdir(path.c_str()) == 0;
}

// ---------------------------------------------------------------------------------------------
// DirectoryIterator

struct DirectoryIterator::Impl {
  struct CloseDir {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, CloseDir> dir;
  std::string folder;
  std::string name;
  struct stat st {};
  bool have_stat = false;

  // Moves to the next entry other than "." and "..".
  bool Advance() {
    name.clear();
    have_stat = false;
    if (!dir) return false;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(dir.get());
      if (entry == nullptr) {
        dir.reset();
        return false;
      }
      const std::string n = entry->d_name;
      if (n == "." || n == "..") continue;
      name = n;
      have_stat = lstat((folder + name).c_str(), &st) == 0;
      return true;
    }
  }
};

DirectoryIterator::DirectoryIterator() : impl_(std::make_unique<Impl>()) {}
DirectoryIterator::~DirectoryIterator() = default;

bool DirectoryIterator::Iterate(const std::string& folder) {
  impl_ = std::make_unique<Impl>();
  impl_->folder = folder;
  if (!impl_->folder.empty() && impl_->folder.back() != '/') impl_->folder += '/';
  impl_->dir.reset(opendir(folder.c_str()));
  if (!impl_->dir) return false;
  return impl_->Advance();
}

bool DirectoryIterator::Next() { return impl_->Advance(); }

std::string DirectoryIterator::Name() const { return impl_->name; }

bool DirectoryIterator::IsDirectory() const {
  return impl_->have_stat && S_ISDIR(impl_->st.st_mode);
}

bool DirectoryIterator::IsSymlink() const { return impl_->have_stat && S_ISLNK(impl_->st.st_mode); }

size_t DirectoryIterator::FileSize() const {
  return impl_->have_stat ? static_cast<size_t>(impl_->st.st_size) : 0;
}

// ---------------------------------------------------------------------------------------------
// FileStream

FileStream::~FileStream() { Close(); }

bool FileStream::Open(const std::string& path, const char* mode, int* error) {
  Close();
  if (mode == nullptr) {
    if (error != nullptr) *error = EINVAL;
    return false;
  }
  file_ = fopen(path.c_str(), mode);
  if (file_ == nullptr) {
    if (error != nullptr) *error = errno;
    return false;
  }
  // fopen succeeds on a folder in read mode; reading it would only fail later.
  struct stat st;
  if (fstat(fileno(file_), &st) == 0 && S_ISDIR(st.st_mode)) {
    Close();
    if (error != nullptr) *error = EISDIR;
    return false;
  }
  return true;
}

StreamState FileStream::GetState() const { return file_ != nullptr ? SS_OPEN : SS_CLOSED; }

StreamResult FileStream::Read(void* buffer, size_t buffer_len, size_t* read, int* error) {
  if (read != nullptr) *read = 0;
  if (file_ == nullptr) {
    if (error != nullptr) *error = EBADF;
    return SR_ERROR;
  }
  if (buffer_len == 0) return SR_SUCCESS;
  const size_t n = fread(buffer, 1, buffer_len, file_);
  if (read != nullptr) *read = n;
  if (n > 0) return SR_SUCCESS;
  if (feof(file_)) return SR_EOS;
  if (error != nullptr) *error = errno;
  return SR_ERROR;
}

StreamResult FileStream::Write(const void* data, size_t data_len, size_t* written, int* error) {
  if (written != nullptr) *written = 0;
  if (file_ == nullptr) {
    if (error != nullptr) *error = EBADF;
    return SR_ERROR;
  }
  if (data_len == 0) return SR_SUCCESS;
  const size_t n = fwrite(data, 1, data_len, file_);
  if (written != nullptr) *written = n;
  if (n > 0) return SR_SUCCESS;
  if (error != nullptr) *error = errno;
  return SR_ERROR;
}

void FileStream::Close() {
  if (file_ != nullptr) {
    fclose(file_);
    file_ = nullptr;
  }
}

bool FileStream::SetPosition(size_t position) {
  if (file_ == nullptr) return false;
  return fseeko(file_, static_cast<off_t>(position), SEEK_SET) == 0;
}

bool FileStream::GetPosition(size_t* position) const {
  if (file_ == nullptr) return false;
  const off_t pos = ftello(file_);
  if (pos < 0) return false;
  if (position != nullptr) *position = static_cast<size_t>(pos);
  return true;
}

bool FileStream::GetSize(size_t* size) const {
  if (file_ == nullptr) return false;
  // Bytes still in the stdio buffer count towards the size.
  fflush(file_);
  struct stat st;
  if (fstat(fileno(file_), &st) != 0) return false;
  if (size != nullptr) *size = static_cast<size_t>(st.st_size);
  return true;
}

bool FileStream::GetAvailable(size_t* size) const {
  size_t total = 0;
  size_t pos = 0;
  if (!GetSize(&total) || !GetPosition(&pos)) return false;
  if (size != nullptr) *size = total > pos ? total - pos : 0;
  return true;
}

bool FileStream::Flush() { return file_ != nullptr && fflush(file_) == 0; }

}  // namespace talk_base
