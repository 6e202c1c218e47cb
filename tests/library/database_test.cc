// The database file as a device receives it: schema text, rows in scan order, encodings; the
// two queries and what a hostile uri can do to them; rebuild, self-check and checksum.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoMediaDBManager.h"
#include "client-core/NorvoMediaDBScannerThread.h"
#include "tests/library/library_fixture.h"

namespace {

using namespace library_test;
using norvo::NorvoMediaItem;
namespace fs = std::filesystem;

// Rows read back with plain SQL, every column as text.
std::vector<std::vector<std::string>> Rows(const std::string& db_path, const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
  while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      const unsigned char* t = sqlite3_column_text(stmt, c);
      row.push_back(t != nullptr ? reinterpret_cast<const char*>(t) : "<null>");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

void ExecSql(const std::string& db_path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(db_path.c_str(), &db), SQLITE_OK);
  char* msg = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK) << msg;
  sqlite3_free(msg);
  sqlite3_close(db);
}

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { db_path_ = dir_.path() + "/NorvoMedia.db"; }

  // Scans `folders` and rebuilds the database from them.
  void Rebuild(std::initializer_list<std::string> folders) {
    const NorvoGlobalSetting settings = MakeSettings(folders);
    std::list<NorvoMediaItem*> items;
    int songs = 0;
    int dirs = 0;
    NorvoWinUtilities::ScanAndBuildMediaItemList("", &items, nullptr, &settings, &songs, &dirs);
    NorvoMediaDBManager db(db_path_);
    ASSERT_TRUE(db.Open());
    EXPECT_EQ(db.RebuildMediaDB(items), static_cast<int>(items.size()));
    norvo::DeleteMediaItems(&items);
  }

  TempDir dir_;
  std::string db_path_;
};

TEST_F(DatabaseTest, SchemaIsExactlyTheDeviceFormat) {
  Rebuild({});
  const auto schema = Rows(db_path_, "SELECT type, name, sql FROM sqlite_master ORDER BY rowid");
  const std::vector<std::vector<std::string>> expected = {
      {"table", "NorvoMediaItems",
       "CREATE TABLE NorvoMediaItems (id INTEGER PRIMARY KEY, uri STRING, parent_uri STRING, "
       "name STRING, path STRING, type STRING, num_dirs INTEGER, num_songs INTEGER, bitrate "
       "INTEGER, samplerate INTEGER, nchannels INTEGER, artist STRING, album STRING, title "
       "STRING, length INTEGER, size INTEGER)"},
      {"index", "Uri_Idx", "CREATE INDEX Uri_Idx ON NorvoMediaItems (uri)"},
  };
  EXPECT_EQ(schema, expected);
}

TEST_F(DatabaseTest, RowsCarryTheScanInOrderWithBase64Texts) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  const std::string b = tree.b;
  const std::string sub = dir_.path() + "/C";
  fs::create_directories(sub + "/nested/empty");
  fs::copy_file(tree.a + "/sub/b.mp3", sub + "/b.mp3");
  Rebuild({b, sub});
  const std::string c_size = std::to_string(fs::file_size(b + "/c.mp3"));
  const std::string b_size = std::to_string(fs::file_size(sub + "/b.mp3"));
  std::vector<std::vector<std::string>> expected = {
      {"1", Md5(b), norvo::kRootUri, B64("B"), B64(b), "dir", "0", "1", "0", "0", "0", "", "", "",
       "0", "0"},
      {"2", Md5(b + "/c.mp3"), Md5(b), B64("c.mp3"), B64(b + "/c.mp3"), "file", "0", "0", "128000",
       "44100", "1", "", "", "", "5", c_size},
      {"3", Md5(sub), norvo::kRootUri, B64("C"), B64(sub), "dir", "1", "1", "0", "0", "0", "", "",
       "", "0", "0"},
  };
  // Within C, the song and the sub-folder come in the folder's listing order.
  const std::map<std::string, std::vector<std::string>> children = {
      {"nested",
       {Md5(sub + "/nested"), Md5(sub), B64("nested"), B64(sub + "/nested"), "dir", "1", "0", "0",
        "0", "0", "", "", "", "0", "0"}},
      {"b.mp3",
       {Md5(sub + "/b.mp3"), Md5(sub), B64("b.mp3"), B64(sub + "/b.mp3"), "file", "0", "0",
        "128000", "44100", "1", B64("Сергей"), B64("東京"), B64("Ça ira"), "5", b_size}},
  };
  for (const auto& e : fs::directory_iterator(sub)) {
    std::vector<std::string> row = {std::to_string(expected.size() + 1)};
    const auto& rest = children.at(e.path().filename().string());
    row.insert(row.end(), rest.begin(), rest.end());
    expected.push_back(row);
  }
  EXPECT_EQ(Rows(db_path_, "SELECT * FROM NorvoMediaItems"), expected);
}

TEST_F(DatabaseTest, QueriesReturnChildrenAndItemsAndRefuseMalformedUris) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  Rebuild({tree.a});
  const std::string before = ReadFile(db_path_);
  NorvoMediaDBManager db(db_path_);
  ASSERT_TRUE(db.Open());

  std::list<NorvoMediaItem*> root = db.BrowseMediaItem("");
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root.front()->Name(), B64("A"));  // rows give names back undecoded
  EXPECT_TRUE(root.front()->IsFolder());
  EXPECT_EQ(root.front()->NumDirs(), 4);
  norvo::DeleteMediaItems(&root);

  std::list<NorvoMediaItem*> sub = db.BrowseMediaItem(Md5(tree.a + "/sub"));
  ASSERT_EQ(sub.size(), 1u);
  const NorvoMediaItem* song = sub.front();
  EXPECT_EQ(song->Uri(), Md5(tree.a + "/sub/b.mp3"));
  EXPECT_EQ(song->TitleB64(), B64("Ça ira"));
  EXPECT_TRUE(song->Title().isEmpty());
  EXPECT_FALSE(song->IsValid());
  EXPECT_EQ(song->Duration(), 5);
  EXPECT_EQ(song->NChannels(), 1);
  norvo::DeleteMediaItems(&sub);

  std::list<NorvoMediaItem*> found = db.QueryMediaItemWithUri(Md5(tree.a + "/sub/b.mp3"));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front()->Path(), B64(tree.a + "/sub/b.mp3"));
  norvo::DeleteMediaItems(&found);

  // A song has no children; an unknown folder has none either.
  EXPECT_TRUE(db.BrowseMediaItem(Md5(tree.a + "/song.mp3")).empty());
  EXPECT_TRUE(db.BrowseMediaItem(Md5("nowhere")).empty());
  EXPECT_TRUE(db.QueryMediaItemWithUri(Md5("nowhere")).empty());

  const std::string valid = Md5(tree.a);
  const std::string hostile[] = {
      "'",
      valid.substr(0, 31),
      valid + "0",
      "D41D8CD98F00B204E9800998ECF8427E",
      "' OR 1=1 --",
      "' OR '1'='1",
      valid.substr(0, 30) + "';DROP TABLE NorvoMediaItems;--",
      std::string(100000, 'a'),
  };
  for (const std::string& uri : hostile) {
    EXPECT_TRUE(db.BrowseMediaItem(uri).empty()) << uri.substr(0, 40);
    EXPECT_TRUE(db.QueryMediaItemWithUri(uri).empty()) << uri.substr(0, 40);
  }
  EXPECT_TRUE(db.QueryMediaItemWithUri("").empty());
  db.Close();
  EXPECT_EQ(ReadFile(db_path_), before);
}

TEST_F(DatabaseTest, QuotesInNamesAndTagsAreStoredVerbatim) {
  const std::string folder = dir_.path() + "/it's \"here\"";
  CopySine("5.0", folder + "/o'neil; DROP TABLE NorvoMediaItems.mp3");
  WriteTags(folder + "/o'neil; DROP TABLE NorvoMediaItems.mp3", "'); DELETE FROM x; --", "\"", "'");
  Rebuild({folder});
  const auto rows = Rows(db_path_, "SELECT name, path, title, artist, album FROM NorvoMediaItems");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1],
            (std::vector<std::string>{B64("o'neil; DROP TABLE NorvoMediaItems.mp3"),
                                      B64(folder + "/o'neil; DROP TABLE NorvoMediaItems.mp3"),
                                      B64("'); DELETE FROM x; --"), B64("\""), B64("'")}));
}

TEST_F(DatabaseTest, AFailingInsertKeepsTheRowsBeforeItAndStops) {
  auto make = [](const std::string& name) {
    auto* item = new NorvoMediaItem();
    item->SetName(name);
    item->SetUriUtf8(Md5(name));
    item->SetParentUriUtf8(norvo::kRootUri);
    return item;
  };
  std::list<NorvoMediaItem*> items = {make("one"), make("two"), make("three")};
  NorvoMediaDBManager db(db_path_);
  ASSERT_TRUE(db.Open());
  db.CreateTables();
  db.Close();
  // A real constraint failure at the second row.
  ExecSql(db_path_, "CREATE TRIGGER refuse BEFORE INSERT ON NorvoMediaItems WHEN NEW.name = '" +
                        B64("two") + "' BEGIN SELECT RAISE(ABORT, 'refused'); END");
  ASSERT_TRUE(db.Open());
  EXPECT_EQ(db.UpdateMediaDB(items), 1);
  db.Close();
  EXPECT_EQ(Rows(db_path_, "SELECT name FROM NorvoMediaItems"),
            (std::vector<std::vector<std::string>>{{B64("one")}}));
  norvo::DeleteMediaItems(&items);
}

TEST_F(DatabaseTest, ARebuildReplacesThePreviousLibraryWhole) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  Rebuild({tree.a});
  Rebuild({tree.b});
  const auto rows = Rows(db_path_, "SELECT id, uri FROM NorvoMediaItems ORDER BY id");
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"1", Md5(tree.b)},
                                                         {"2", Md5(tree.b + "/c.mp3")}}));
}

TEST_F(DatabaseTest, DamagedOrMissingDataGivesEmptyAnswers) {
  NorvoMediaDBManager closed(db_path_);
  EXPECT_TRUE(closed.BrowseMediaItem("").empty());
  EXPECT_EQ(closed.UpdateMediaDB({}), 0);
  EXPECT_TRUE(closed.SelfCheck());
  EXPECT_FALSE(fs::exists(db_path_));
  EXPECT_FALSE(closed.OpenReadOnly());  // a missing file is not created for reading
  EXPECT_FALSE(fs::exists(db_path_));

  // A table of the right name but the wrong shape, with out-of-range numbers.
  ExecSql(db_path_,
          "CREATE TABLE NorvoMediaItems (id INTEGER PRIMARY KEY, uri, parent_uri, name, path, "
          "type, num_dirs);"
          "INSERT INTO NorvoMediaItems VALUES (NULL, 'u', 'd41d8cd98f00b204e9800998ecf8427e', "
          "'bmFtZQ==', NULL, 'dir', 99999999999)");
  NorvoMediaDBManager db(db_path_);
  ASSERT_TRUE(db.Open());
  std::list<NorvoMediaItem*> items = db.BrowseMediaItem("");
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items.front()->Name(), "bmFtZQ==");
  EXPECT_EQ(items.front()->Path(), "");
  EXPECT_EQ(items.front()->NumDirs(), INT32_MAX);
  EXPECT_EQ(items.front()->Size(), 0);
  norvo::DeleteMediaItems(&items);

  // A file that is not a database at all.
  WriteFile(db_path_, std::string(4096, 'x'));
  NorvoMediaDBManager garbage(db_path_);
  ASSERT_TRUE(garbage.Open());  // SQLite reads lazily
  EXPECT_TRUE(garbage.BrowseMediaItem("").empty());
  EXPECT_FALSE(garbage.HasMediaTable());
}

TEST_F(DatabaseTest, FileDigestIsTheMd5OfTheBytes) {
  WriteFile(dir_.path() + "/empty", "");
  WriteFile(dir_.path() + "/abc", "abc");
  EXPECT_EQ(NorvoCommon::CalculateMD5FromFile(dir_.path() + "/empty"),
            "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(NorvoCommon::CalculateMD5FromFile(dir_.path() + "/abc"),
            "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(NorvoCommon::CalculateMD5FromFile(dir_.path() + "/missing"), "");
  EXPECT_EQ(NorvoCommon::CalculateMD5FromFile(dir_.path()), "");  // a folder
}

// The user data folder's database, as the core client and the window use it.
class UserDataDatabaseTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    NorvoGlobalContext::SetAppUserDataDir((dir_.path() + "/").c_str());
  }
  void TearDown() override { NorvoGlobalContext::SetAppUserDataDir(""); }
};

TEST_F(UserDataDatabaseTest, SelfCheckBuildsAMissingTableFromTheSharedFolders) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  NorvoGlobalContext::AddPublicFolderLocation(tree.b);
  EXPECT_EQ(NorvoMediaDBManager::GetFullDBFilePath(), db_path_);
  NorvoMediaDBManager db;
  ASSERT_TRUE(db.Open());
  EXPECT_TRUE(db.SelfCheck());
  EXPECT_EQ(Rows(db_path_, "SELECT uri FROM NorvoMediaItems").size(), 2u);
  // A present table is left alone, even when the folders changed.
  NorvoGlobalContext::AddPublicFolderLocation(tree.a);
  EXPECT_TRUE(db.SelfCheck());
  EXPECT_EQ(Rows(db_path_, "SELECT uri FROM NorvoMediaItems").size(), 2u);
}

TEST_F(UserDataDatabaseTest, ChecksumIsRecomputedOnlyAfterAnUpdate) {
  const LibraryTree tree = BuildLibraryTree(dir_.path());
  NorvoGlobalContext::AddPublicFolderLocation(tree.b);
  {
    NorvoMediaDBScannerThread scanner;
    scanner.Start();
    scanner.Wait();
  }
  EXPECT_EQ(NorvoGlobalContext::Instance()->iRescanNeeded, 0);
  const std::string first = NorvoMediaDBManager::RetrieveDBFileChecksum(false);
  EXPECT_EQ(first, Md5(ReadFile(db_path_)));
  // Between updates the stored digest answers without reading the file.
  ExecSql(db_path_, "INSERT INTO NorvoMediaItems (uri) VALUES ('x')");
  EXPECT_EQ(NorvoMediaDBManager::RetrieveDBFileChecksum(false), first);
  EXPECT_EQ(NorvoMediaDBManager::RetrieveDBFileChecksum(true), Md5(ReadFile(db_path_)));
  NorvoGlobalContext::AddPublicFolderLocation(tree.a);
  {
    NorvoMediaDBScannerThread scanner;
    scanner.Start();
    scanner.Wait();
  }
  const std::string after = NorvoMediaDBManager::RetrieveDBFileChecksum(false);
  EXPECT_EQ(after, Md5(ReadFile(db_path_)));
  EXPECT_NE(after, first);
}

}  // namespace
