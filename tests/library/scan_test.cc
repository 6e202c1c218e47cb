// The folder walk: which folders and songs are listed, in which order, with which uris; the
// parallel analysis keeps that order; the scanner thread's progress and result.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "client-core/NorvoMediaDBManager.h"
#include "client-core/NorvoMediaDBScannerThread.h"
#include "messaging/base/base64.h"
#include "tests/library/library_fixture.h"

namespace {

using namespace library_test;
using norvo::NorvoMediaItem;
namespace fs = std::filesystem;

struct Expected {
  std::string rel;         // path below the temporary root
  std::string parent_rel;  // "" for a shared folder
  bool folder;
  int dirs, songs, duration;
};

std::string Decode(const std::string& b64) {
  std::string out;
  EXPECT_TRUE(talk_base::Base64::Decode(b64, &out)) << b64;
  return out;
}

class ScanTest : public ::testing::Test {
 protected:
  void Scan(std::initializer_list<std::string> folders, std::list<NorvoMediaItem*>* items,
            int* songs, int* dirs, NorvoProgressUI* progress = nullptr) {
    const NorvoGlobalSetting settings = MakeSettings(folders);
    NorvoWinUtilities::ScanAndBuildMediaItemList("", items, progress, &settings, songs, dirs);
  }

  // Every item's parent is a folder still open on the walk's path: the list is a pre-order in
  // which each subtree is contiguous. Siblings follow the folder's listing order.
  void ExpectPreOrder(const std::list<NorvoMediaItem*>& items) {
    std::vector<std::string> open;  // uris of the folders on the current path
    std::map<std::string, std::vector<std::string>> children;  // parent path -> child names
    for (const NorvoMediaItem* item : items) {
      if (item->ParentUri() == norvo::kRootUri) {
        open.clear();
      } else {
        while (!open.empty() && open.back() != item->ParentUri()) open.pop_back();
        ASSERT_FALSE(open.empty()) << Decode(item->Path()) << " is outside its parent's subtree";
        const fs::path p = Decode(item->Path());
        children[p.parent_path().string()].push_back(p.filename().string());
      }
      if (item->IsFolder()) open.push_back(item->Uri());
    }
    for (const auto& [folder, names] : children) {
      std::vector<std::string> listing;
      for (const auto& e : fs::directory_iterator(folder)) {
        const std::string n = e.path().filename().string();
        if (std::find(names.begin(), names.end(), n) != names.end()) listing.push_back(n);
      }
      EXPECT_EQ(names, listing) << "children of " << folder;
    }
  }

  TempDir dir_;
};

TEST_F(ScanTest, ListsFoldersAndSongsOfEverySharedFolderInPreOrder) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  const std::string missing = dir_.path() + "/missing";
  std::list<NorvoMediaItem*> items;
  int songs = 0;
  int dirs = 0;
  Scan({tree.a, tree.b, missing}, &items, &songs, &dirs);

  const Expected expected[] = {
      {"A", "", true, 4, 4, 0},
      {"A/song.mp3", "A", false, 0, 0, 5},
      {"A/.hidden.mp3", "A", false, 0, 0, 5},
      {"A/onlyempty", "A", true, 1, 0, 0},
      {"A/sub", "A", true, 1, 1, 0},
      {"A/sub/b.mp3", "A/sub", false, 0, 0, 5},
      {"A/toB", "A", true, 0, 1, 0},
      {"A/toB/c.mp3", "A/toB", false, 0, 0, 5},
      {"B", "", true, 0, 1, 0},
      {"B/c.mp3", "B", false, 0, 0, 5},
      {"missing", "", true, 0, 0, 0},  // a shared folder is listed even when it is not there
  };
  ASSERT_EQ(items.size(), std::size(expected));
  EXPECT_EQ(songs, 5);
  EXPECT_EQ(dirs, 6);
  std::map<std::string, const NorvoMediaItem*> by_path;
  for (const NorvoMediaItem* item : items) by_path[Decode(item->Path())] = item;
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.rel);
    const std::string full = dir_.path() + "/" + e.rel;
    ASSERT_EQ(by_path.count(full), 1u);
    const NorvoMediaItem* item = by_path[full];
    EXPECT_EQ(item->Uri(), Md5(full));
    EXPECT_EQ(item->ParentUri(),
              e.parent_rel.empty() ? norvo::kRootUri : Md5(dir_.path() + "/" + e.parent_rel));
    EXPECT_EQ(item->Name(), fs::path(full).filename().string());
    EXPECT_TRUE(item->IsValid());
    EXPECT_EQ(item->IsFolder(), e.folder);
    EXPECT_EQ(item->NumDirs(), e.dirs);
    EXPECT_EQ(item->NumSongs(), e.songs);
    EXPECT_EQ(item->Duration(), e.duration);
  }
  // Shared folders in the configured order, each followed by its own subtree.
  std::vector<std::string> roots;
  for (const NorvoMediaItem* item : items) {
    if (item->ParentUri() == norvo::kRootUri) roots.push_back(Decode(item->Path()));
  }
  EXPECT_EQ(roots, (std::vector<std::string>{tree.a, tree.b, missing}));
  ExpectPreOrder(items);
  norvo::DeleteMediaItems(&items);
}

TEST_F(ScanTest, PathsAreJoinedWithoutNormalisation) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  std::list<NorvoMediaItem*> items;
  int songs = 0;
  int dirs = 0;
  Scan({tree.b + "/"}, &items, &songs, &dirs);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items.front()->Name(), "");
  EXPECT_EQ(items.front()->Uri(), Md5(tree.b + "/"));
  EXPECT_EQ(items.back()->Uri(), Md5(tree.b + "//c.mp3"));
  EXPECT_EQ(items.back()->ParentUri(), Md5(tree.b + "/"));
  norvo::DeleteMediaItems(&items);
}

TEST_F(ScanTest, EmptyAndUnlistableFoldersGiveOnlyTheSharedFolder) {
  fs::create_directories(dir_.path() + "/empty");
  WriteFile(dir_.path() + "/file", "a file where a folder was expected");
  WriteFile(dir_.path() + "/text/a.txt", "x");
  std::list<NorvoMediaItem*> items;
  int songs = 0;
  int dirs = 0;
  Scan({dir_.path() + "/empty", dir_.path() + "/file", dir_.path() + "/text"}, &items, &songs,
       &dirs);
  ASSERT_EQ(items.size(), 3u);
  for (const NorvoMediaItem* item : items) {
    EXPECT_TRUE(item->IsFolder());
    EXPECT_EQ(item->NumDirs() + item->NumSongs(), 0);
  }
  EXPECT_EQ(songs, 0);
  EXPECT_EQ(dirs, 3);
  norvo::DeleteMediaItems(&items);
  // No shared folder at all: nothing.
  Scan({}, &items, &songs, &dirs);
  EXPECT_TRUE(items.empty());
}

TEST_F(ScanTest, AnUnreadableSubFolderIsLeftOut) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  CopySine("5.0", dir_.path() + "/A/a.mp3");
  CopySine("5.0", dir_.path() + "/A/locked/b.mp3");
  fs::permissions(dir_.path() + "/A/locked", fs::perms::none);
  std::list<NorvoMediaItem*> items;
  int songs = 0;
  int dirs = 0;
  Scan({dir_.path() + "/A"}, &items, &songs, &dirs);
  EXPECT_EQ(items.size(), 2u);
  EXPECT_EQ(songs, 1);
  norvo::DeleteMediaItems(&items);
}

TEST_F(ScanTest, ALoopBackToTheSharedFolderEnds) {
  CopySine("5.0", dir_.path() + "/A/x/a.mp3");
  fs::create_directory_symlink("../..", dir_.path() + "/A/x/y");  // leads to the temporary root
  fs::create_directory_symlink(".", dir_.path() + "/A/self");
  std::list<NorvoMediaItem*> items;
  int songs = 0;
  int dirs = 0;
  // The loop through y comes back to A by way of the root, which is not on the walk's path:
  // A/x/y/A is A again and is skipped there.
  Scan({dir_.path() + "/A"}, &items, &songs, &dirs);
  std::vector<std::string> paths;
  for (const NorvoMediaItem* item : items) paths.push_back(Decode(item->Path()));
  const std::string a = dir_.path() + "/A";
  EXPECT_EQ(std::count(paths.begin(), paths.end(), a + "/x/a.mp3"), 1);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), a + "/self"), 0);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), a + "/x/y"), 1);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), a + "/x/y/A"), 0);
  EXPECT_EQ(songs, 1);
  norvo::DeleteMediaItems(&items);
}

// Records progress calls with the thread they came on.
class Progress : public NorvoProgressUI {
 public:
  void OnMessage(int hint, const std::string& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back(std::to_string(hint) + ":" + message);
    threads.push_back(std::this_thread::get_id());
  }
  void OnFinish(int value) override {
    std::lock_guard<std::mutex> lock(mutex_);
    calls.push_back("finish:" + std::to_string(value));
    threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> calls;
  std::vector<std::thread::id> threads;

 private:
  std::mutex mutex_;
};

TEST_F(ScanTest, ParallelAnalysisGivesTheSameListAndProgressAsOneThread) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  for (int i = 0; i < 12; ++i)
    CopySine(i % 3 ? "5.0" : "4.9", tree.b + "/n" + std::to_string(i) + ".mp3");
  auto run = [&](int workers, Progress* progress) {
    NorvoWinUtilities::SetMediaScanWorkers(workers);
    std::list<NorvoMediaItem*> items;
    int songs = 0;
    int dirs = 0;
    Scan({tree.a, tree.b}, &items, &songs, &dirs, progress);
    std::vector<std::string> rows;
    for (const NorvoMediaItem* item : items) {
      rows.push_back(item->Uri() + " " + item->ParentUri() + " " + item->Name() + " " +
                     std::to_string(item->Duration()) + " " + item->Title().to8Bit(true));
    }
    norvo::DeleteMediaItems(&items);
    return rows;
  };
  Progress one;
  Progress many;
  const auto sequential = run(1, &one);
  const auto parallel = run(4, &many);
  NorvoWinUtilities::SetMediaScanWorkers(0);
  EXPECT_EQ(sequential.size(), 26u);  // B's songs appear twice: in B and through A/toB
  EXPECT_EQ(sequential, parallel);
  EXPECT_EQ(one.calls, many.calls);
  for (std::thread::id id : many.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(ScanTest, ScannerThreadRebuildsTheDatabaseAndReportsTheEnd) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  const NorvoGlobalSetting settings = MakeSettings({tree.b});
  const std::string db_path = dir_.path() + "/NorvoMedia.db";
  Progress progress;
  {
    NorvoMediaDBScannerThread scanner;
    scanner.SetProgressUI(&progress);
    scanner.SetSettings(&settings);
    scanner.SetDatabasePath(db_path);
    ASSERT_TRUE(scanner.Start());
    EXPECT_FALSE(scanner.Start());
    scanner.Wait();
    EXPECT_FALSE(scanner.IsRunning());
    EXPECT_EQ(scanner.Items().size(), 2u);
    EXPECT_EQ(scanner.RowsInserted(), 2);
    EXPECT_EQ(scanner.SongCount(), 1);
    EXPECT_EQ(scanner.FolderCount(), 1);
  }
  const std::vector<std::string> calls = {"0:" + tree.b, "0:" + tree.b, "0:c.mp3",
                                          "1:", "finish:-1"};
  EXPECT_EQ(progress.calls, calls);
  for (std::thread::id id : progress.threads) EXPECT_NE(id, std::this_thread::get_id());
  NorvoMediaDBManager db(db_path);
  ASSERT_TRUE(db.Open());
  std::list<NorvoMediaItem*> root = db.BrowseMediaItem("");
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root.front()->Uri(), Md5(tree.b));
  norvo::DeleteMediaItems(&root);
}

}  // namespace
