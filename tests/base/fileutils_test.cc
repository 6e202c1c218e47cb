#include "messaging/base/fileutils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace talk_base {
namespace {

struct PathCase {
  const char* input;
  const char* folder;
  const char* filename;
  const char* basename;
  const char* extension;
};

TEST(PathnameTest, SplitsFolderNameAndExtension) {
  const PathCase kCases[] = {
      {"/music/album/song.mp3", "/music/album/", "song.mp3", "song", ".mp3"},
      {"song.mp3", "", "song.mp3", "song", ".mp3"},
      {"/music/album/", "/music/album/", "", "", ""},
      {"/archive.tar.gz", "/", "archive.tar.gz", "archive.tar", ".gz"},
      {"/home/u/.profile", "/home/u/", ".profile", ".profile", ""},
      {"/a.b/README", "/a.b/", "README", "README", ""},
      {"", "", "", "", ""},
  };
  for (const PathCase& c : kCases) {
    Pathname p(c.input);
    EXPECT_EQ(p.folder(), c.folder) << c.input;
    EXPECT_EQ(p.filename(), c.filename) << c.input;
    EXPECT_EQ(p.basename(), c.basename) << c.input;
    EXPECT_EQ(p.extension(), c.extension) << c.input;
    EXPECT_EQ(p.pathname(), c.input);
    EXPECT_EQ(p.empty(), std::string(c.input).empty());
  }
}

TEST(PathnameTest, BuildsPathsFromParts) {
  Pathname p("/music", "song.mp3");
  EXPECT_EQ(p.pathname(), "/music/song.mp3");
  p.AppendFolder("rock");
  p.AppendFolder("/live/");
  EXPECT_EQ(p.pathname(), "/music/rock/live/song.mp3");
  p.SetFolder("/other/");
  p.SetFilename("b.ogg");
  EXPECT_EQ(p.pathname(), "/other/b.ogg");
  Pathname relative;
  relative.AppendFolder("sub");
  EXPECT_EQ(relative.folder(), "sub/");
}

// A fresh folder under the system temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    path_ = Filesystem::TempFilename(Filesystem::GetTemporaryFolder(), "basetest");
    EXPECT_TRUE(Filesystem::CreateFolder(path_));
    path_ += "/";
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& content) const {
    const std::string full = path_ + name;
    FILE* f = fopen(full.c_str(), "wb");
    EXPECT_NE(f, nullptr) << full;
    if (f != nullptr) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
    return full;
  }
  static std::string Read(const std::string& path) {
    std::string content;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return "<absent>";
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) content.append(buf, n);
    fclose(f);
    return content;
  }

 private:
  std::string path_;
};

TEST(FilesystemTest, TemporaryNamesAreFreshAndInTheFolder) {
  const std::string tmp = Filesystem::GetTemporaryFolder();
  ASSERT_FALSE(tmp.empty());
  EXPECT_EQ(tmp.back(), '/');
  EXPECT_TRUE(Filesystem::IsFolder(tmp));
  TempFolder dir;
  const std::string a = Filesystem::TempFilename(dir.path(), "pre");
  const std::string b = Filesystem::TempFilename(dir.path(), "pre");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(dir.path() + "pre", 0), 0u) << a;
  EXPECT_EQ(Pathname(a).filename().find('/'), std::string::npos);
  EXPECT_TRUE(Filesystem::IsAbsent(a));
}

TEST(FilesystemTest, TellsFilesFoldersAndAbsentPathsApart) {
  TempFolder dir;
  const std::string file = dir.Write("f.txt", "12345");
  const std::string folder = dir.path() + "sub";
  ASSERT_TRUE(Filesystem::CreateFolder(folder));
  const std::string dangling = dir.path() + "dangling";
  ASSERT_EQ(symlink((dir.path() + "nowhere").c_str(), dangling.c_str()), 0);

  struct Case {
    std::string path;
    bool is_file, is_folder, is_absent;
  };
  const Case kCases[] = {
      {file, true, false, false},
      {folder, false, true, false},
      {dir.path() + "missing", false, false, true},
      // A dangling link is neither, but the name is taken.
      {dangling, false, false, false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Filesystem::IsFile(c.path), c.is_file) << c.path;
    EXPECT_EQ(Filesystem::IsFolder(c.path), c.is_folder) << c.path;
    EXPECT_EQ(Filesystem::IsAbsent(c.path), c.is_absent) << c.path;
  }

  size_t size = 0;
  EXPECT_TRUE(Filesystem::GetFileSize(file, &size));
  EXPECT_EQ(size, 5u);
  EXPECT_FALSE(Filesystem::GetFileSize(folder, &size));
  EXPECT_FALSE(Filesystem::GetFileSize(dir.path() + "missing", &size));
}

TEST(FilesystemTest, CreatesFoldersWithTheirParents) {
  TempFolder dir;
  const std::string deep = dir.path() + "a/b/c";
  EXPECT_TRUE(Filesystem::CreateFolder(deep));
  EXPECT_TRUE(Filesystem::IsFolder(deep));
  EXPECT_TRUE(Filesystem::CreateFolder(deep + "/"));  // already there
  const std::string file = dir.Write("plain", "x");
  EXPECT_FALSE(Filesystem::CreateFolder(file));
  EXPECT_FALSE(Filesystem::CreateFolder(file + "/below"));
  EXPECT_FALSE(Filesystem::CreateFolder(""));
}

TEST(FilesystemTest, CopiesMovesAndDeletes) {
  TempFolder dir;
  const std::string src = dir.Write("src", "content");
  const std::string old_target = dir.Write("copy", "older and longer content");

  EXPECT_TRUE(Filesystem::CopyFile(src, old_target));
  EXPECT_EQ(TempFolder::Read(old_target), "content");
  EXPECT_EQ(TempFolder::Read(src), "content");

  const std::string moved = dir.path() + "moved";
  EXPECT_TRUE(Filesystem::MoveFile(src, moved));
  EXPECT_TRUE(Filesystem::IsAbsent(src));
  EXPECT_EQ(TempFolder::Read(moved), "content");

  // Refusals leave everything in place.
  EXPECT_FALSE(Filesystem::CopyFile(dir.path() + "missing", dir.path() + "x"));
  EXPECT_FALSE(Filesystem::MoveFile(dir.path() + "missing", dir.path() + "x"));
  EXPECT_FALSE(Filesystem::CopyFile(moved, dir.path() + "no/such/folder/x"));
  EXPECT_EQ(TempFolder::Read(moved), "content");
  EXPECT_TRUE(Filesystem::IsAbsent(dir.path() + "x"));

  ASSERT_TRUE(Filesystem::CreateFolder(dir.path() + "folder"));
  EXPECT_FALSE(Filesystem::DeleteFile(dir.path() + "folder"));
  EXPECT_FALSE(Filesystem::CopyFile(dir.path() + "folder", dir.path() + "x"));
  EXPECT_TRUE(Filesystem::DeleteFile(moved));
  EXPECT_TRUE(Filesystem::IsAbsent(moved));
  EXPECT_FALSE(Filesystem::DeleteFile(moved));

  dir.Write("folder/inside", "x");
  EXPECT_FALSE(Filesystem::DeleteEmptyFolder(dir.path() + "folder"));
  EXPECT_FALSE(Filesystem::DeleteEmptyFolder(dir.path() + "folder/inside"));
  EXPECT_TRUE(Filesystem::DeleteFile(dir.path() + "folder/inside"));
  EXPECT_TRUE(Filesystem::DeleteEmptyFolder(dir.path() + "folder"));
  EXPECT_TRUE(Filesystem::IsAbsent(dir.path() + "folder"));
}

TEST(DirectoryIteratorTest, ListsEntriesWithoutFollowingLinks) {
  TempFolder dir;
  dir.Write("a.mp3", "123");
  dir.Write("b.txt", "");
  ASSERT_TRUE(Filesystem::CreateFolder(dir.path() + "sub"));
  dir.Write("sub/hidden", "not listed");
  ASSERT_EQ(symlink((dir.path() + "sub").c_str(), (dir.path() + "link").c_str()), 0);

  struct Seen {
    bool dir, link;
    size_t size;
  };
  std::map<std::string, Seen> seen;
  DirectoryIterator it;
  ASSERT_TRUE(it.Iterate(dir.path()));
  do {
    EXPECT_TRUE(
        seen.emplace(it.Name(), Seen{it.IsDirectory(), it.IsSymlink(), it.FileSize()}).second)
        << it.Name();
  } while (it.Next());
  EXPECT_FALSE(it.Next());  // stays at the end

  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.count("."), 0u);
  EXPECT_EQ(seen.count(".."), 0u);
  EXPECT_FALSE(seen["a.mp3"].dir);
  EXPECT_EQ(seen["a.mp3"].size, 3u);
  EXPECT_EQ(seen["b.txt"].size, 0u);
  EXPECT_TRUE(seen["sub"].dir);
  EXPECT_FALSE(seen["sub"].link);
  EXPECT_TRUE(seen["link"].link);
  EXPECT_FALSE(seen["link"].dir);

  // The folder name without its trailing slash works the same.
  std::string no_slash = dir.path();
  no_slash.pop_back();
  DirectoryIterator again;
  ASSERT_TRUE(again.Iterate(no_slash + "/sub"));
  EXPECT_EQ(again.Name(), "hidden");
  EXPECT_EQ(again.FileSize(), 10u);
  EXPECT_FALSE(again.Next());
}

TEST(DirectoryIteratorTest, RefusesMissingEmptyAndNonFolders) {
  TempFolder dir;
  ASSERT_TRUE(Filesystem::CreateFolder(dir.path() + "empty"));
  const std::string file = dir.Write("file", "x");
  for (const std::string& path : {dir.path() + "empty", dir.path() + "missing", file}) {
    DirectoryIterator it;
    EXPECT_FALSE(it.Iterate(path)) << path;
    EXPECT_FALSE(it.Next()) << path;
    EXPECT_EQ(it.Name(), "") << path;
  }
  DirectoryIterator unused;
  EXPECT_FALSE(unused.Next());
}

TEST(FileStreamTest, WritesReadsAndSeeks) {
  TempFolder dir;
  const std::string path = dir.path() + "stream.bin";
  FileStream out;
  EXPECT_EQ(out.GetState(), SS_CLOSED);
  ASSERT_TRUE(out.Open(path, "wb"));
  EXPECT_EQ(out.GetState(), SS_OPEN);
  size_t written = 0;
  int error = 0;
  EXPECT_EQ(out.WriteAll("hello, world", 12, &written, &error), SR_SUCCESS);
  EXPECT_EQ(written, 12u);
  size_t size = 0;
  EXPECT_TRUE(out.GetSize(&size));  // counts what is still buffered
  EXPECT_EQ(size, 12u);
  out.Close();
  EXPECT_EQ(out.GetState(), SS_CLOSED);

  FileStream in;
  ASSERT_TRUE(in.Open(path, "rb"));
  char buf[32] = {};
  size_t read = 0;
  EXPECT_EQ(in.Read(buf, 5, &read, &error), SR_SUCCESS);
  EXPECT_EQ(std::string(buf, read), "hello");
  size_t pos = 0, available = 0;
  EXPECT_TRUE(in.GetPosition(&pos));
  EXPECT_EQ(pos, 5u);
  EXPECT_TRUE(in.GetAvailable(&available));
  EXPECT_EQ(available, 7u);

  EXPECT_TRUE(in.SetPosition(7));
  EXPECT_EQ(in.ReadAll(buf, sizeof(buf), &read, &error), SR_EOS);
  EXPECT_EQ(std::string(buf, read), "world");
  EXPECT_EQ(in.Read(buf, sizeof(buf), &read, nullptr), SR_EOS);
  EXPECT_EQ(read, 0u);

  EXPECT_TRUE(in.Rewind());
  EXPECT_EQ(in.ReadAll(buf, 12, &read, nullptr), SR_SUCCESS);
  EXPECT_EQ(std::string(buf, read), "hello, world");
}

TEST(FileStreamTest, ReportsFailures) {
  TempFolder dir;
  FileStream s;
  int error = 0;
  EXPECT_FALSE(s.Open(dir.path() + "missing", "rb", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(s.Open(dir.path(), "rb", &error));
  EXPECT_EQ(error, EISDIR);
  EXPECT_EQ(s.GetState(), SS_CLOSED);

  // Everything on a closed stream fails instead of touching a null FILE.
  char buf[4];
  size_t n = 99;
  EXPECT_EQ(s.Read(buf, sizeof(buf), &n, &error), SR_ERROR);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(s.Write("x", 1, &n, &error), SR_ERROR);
  EXPECT_FALSE(s.SetPosition(0));
  EXPECT_FALSE(s.GetSize(&n));
  EXPECT_FALSE(s.GetAvailable(&n));
  EXPECT_FALSE(s.Flush());

  // Writing to a stream opened for reading is an error, not a success of nothing.
  const std::string path = dir.Write("ro", "data");
  ASSERT_TRUE(s.Open(path, "rb"));
  EXPECT_EQ(s.Write("x", 1, &n, &error), SR_ERROR);
  EXPECT_EQ(TempFolder::Read(path), "data");
}

}  // namespace
}  // namespace talk_base
