// A fresh folder under the system's temporary folder for one test, removed with everything in it
// when the object goes (folders a test made unreadable are opened again first).
#pragma once

#include <string>

namespace norvo_test {

class TempDir {
 public:
  // `tag` goes into the folder's name, to tell the test areas' leftovers apart.
  explicit TempDir(const std::string& tag = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // path() + "/" + relative, with the folders on the way created.
  std::string Sub(const std::string& relative) const;

 private:
  std::string path_;
};

}  // namespace norvo_test
