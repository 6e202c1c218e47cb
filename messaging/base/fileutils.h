// Paths, the file system, folder listings and file streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "messaging/base/stream.h"

namespace talk_base {

// A path split into folder (ending in "/" unless empty) and file name.
class Pathname {
 public:
  Pathname() = default;
  explicit Pathname(const std::string& pathname) { SetPathname(pathname); }
  Pathname(const std::string& folder, const std::string& filename);

  void SetPathname(const std::string& pathname);
  std::string pathname() const { return folder_ + filename_; }
  const std::string& folder() const { return folder_; }
  void SetFolder(const std::string& folder);  // adds the trailing "/"
  void AppendFolder(const std::string& folder);
  std::string filename() const { return filename_; }
  void SetFilename(const std::string& filename) { filename_ = filename; }
  // Name without extension, and extension with its dot ("" when none).
  std::string basename() const;
  std::string extension() const;
  bool empty() const { return folder_.empty() && filename_.empty(); }

 private:
  std::string folder_;
  std::string filename_;
};

class Filesystem {
 public:
  // The system's temporary folder, ending in "/".
  static std::string GetTemporaryFolder();
  // A path in `folder` (ending in "/") whose name starts with `prefix` and that does not exist.
  static std::string TempFilename(const std::string& folder, const std::string& prefix);
  static bool GetFileSize(const std::string& path, size_t* size);
  static bool IsFile(const std::string& path);
  static bool IsFolder(const std::string& path);
  static bool IsAbsent(const std::string& path);
  // Creates the folder and its missing parents; an existing folder is success.
  static bool CreateFolder(const std::string& path);
  static bool CopyFile(const std::string& from, const std::string& to);
  static bool MoveFile(const std::string& from, const std::string& to);
  static bool DeleteFile(const std::string& path);
  static bool DeleteEmptyFolder(const std::string& path);
};

// Lists a folder's entries ("." and ".." are skipped).
//   DirectoryIterator it;
//   if (it.Iterate(folder)) do { ... it.Name() ... } while (it.Next());
class DirectoryIterator {
 public:
  DirectoryIterator();
  ~DirectoryIterator();
  DirectoryIterator(const DirectoryIterator&) = delete;
  DirectoryIterator& operator=(const DirectoryIterator&) = delete;

  // Opens the folder and moves to its first entry; false when it cannot be read or is empty.
  bool Iterate(const std::string& folder);
  bool Next();
  std::string Name() const;
  // Of the entry itself (symlinks are not followed): true for a folder.
  bool IsDirectory() const;
  bool IsSymlink() const;
  size_t FileSize() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class FileStream : public StreamInterface {
 public:
  FileStream() = default;
  ~FileStream() override;

  // `mode` as for fopen ("rb", "wb", "ab", ...). Returns false and sets *error on failure.
  bool Open(const std::string& path, const char* mode, int* error = nullptr);
  StreamState GetState() const override;
  StreamResult Read(void* buffer, size_t buffer_len, size_t* read, int* error) override;
  StreamResult Write(const void* data, size_t data_len, size_t* written, int* error) override;
  void Close() override;
  bool SetPosition(size_t position) override;
  bool GetPosition(size_t* position) const override;
  bool GetSize(size_t* size) const override;
  bool GetAvailable(size_t* size) const override;
  bool Flush();

 private:
  FILE* file_ = nullptr;
};

}  // namespace talk_base
