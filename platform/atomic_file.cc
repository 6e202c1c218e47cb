#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace platform {

namespace {

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int get() const { return fd_; }
  // Closes now and reports close's own failure (a delayed write error shows up here).
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
  std::string tmp_template = path + ".XXXXXX";
  std::vector<char> name(tmp_template.begin(), tmp_template.end());
  name.push_back('\0');
  FdCloser fd(mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  const std::string tmp_path(name.data());
  auto fail = [&tmp_path]() {
    int saved = errno;
    unlink(tmp_path.c_str());
    errno = saved;
    return false;
  };
  if (fchmod(fd.get(), mode) != 0) return fail();
  if (!WriteAll(fd.get(), bytes)) return fail();
  if (fsync(fd.get()) != 0) return fail();
  if (!fd.Close()) return fail();
  if (rename(tmp_path.c_str(), path.c_str()) != 0) return fail();
  // The rename itself must reach the disk too, or a crash could bring the old name back.
  FdCloser dir(open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return true;
}

ReadFileResult ReadWholeFile(const std::string& path, size_t max_size, std::string* out) {
  out->clear();
  FdCloser fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    return errno == ENOENT || errno == ENOTDIR ? ReadFileResult::kMissing
                                               : ReadFileResult::kReadFailed;
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return ReadFileResult::kReadFailed;
  if (!S_ISREG(st.st_mode)) return ReadFileResult::kNotAFile;
  if (static_cast<unsigned long long>(st.st_size) > max_size) return ReadFileResult::kTooLarge;
  std::string data;
  char chunk[16384];
  while (true) {
    ssize_t n = read(fd.get(), chunk, sizeof(chunk));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadFileResult::kReadFailed;
    }
    if (n == 0) break;
    // The file may grow while it is read; the bound holds all the same.
    if (data.size() + static_cast<size_t>(n) > max_size) return ReadFileResult::kTooLarge;
    data.append(chunk, static_cast<size_t>(n));
  }
  *out = std::move(data);
  return ReadFileResult::kOk;
}

}  // namespace platform
