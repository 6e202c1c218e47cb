#include "tests/common/temp_dir.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace norvo_test {

TempDir::TempDir(const std::string& tag) {
  std::string pattern = (fs::temp_directory_path() / ("norvo-" + tag + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    // Nothing a test does afterwards would mean anything.
    std::perror("norvo_test::TempDir: mkdtemp");
    std::abort();
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::end(it); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::Sub(const std::string& relative) const {
  const fs::path p = fs::path(path_) / relative;
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  return p.string();
}

}  // namespace norvo_test
