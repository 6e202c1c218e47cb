#include "client-core/NorvoMediaDBManager.h"

#include <sqlite3.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoMediaDBScannerThread.h"
#include "messaging/base/base64.h"
#include "messaging/base/fileutils.h"
#include "messaging/base/logging.h"
#include "messaging/base/md5.h"

using norvo::NorvoMediaItem;

namespace {

constexpr const char kInsertSql[] =
    "INSERT INTO NorvoMediaItems VALUES(NULL,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
constexpr const char kBrowseSql[] = "SELECT * FROM NorvoMediaItems WHERE parent_uri=?";
constexpr const char kUriSql[] = "SELECT * FROM NorvoMediaItems WHERE uri=?";
constexpr const char kTableCheckSql[] =
    "SELECT * FROM sqlite_master WHERE name ='NorvoMediaItems' and type='table'";
// Readers wait this long for a rebuild's commit instead of failing at once.
constexpr int kBusyTimeoutMs = 10000;

// The digest of the last computation and whether the database changed since. Written by the
// scanner thread, read by the client thread.
std::mutex g_checksum_mutex;
std::string g_current_checksum;
std::atomic<bool> g_modified_since_last_build{false};

// Tags go into rows as Base64 of their UTF-8 text; an empty tag stays empty.
std::string TagToBase64(const TagLib::String& tag) {
  const std::string utf8 = tag.to8Bit(true);
  if (utf8.empty()) return std::string();
  return talk_base::Base64::Encode(utf8);
}

// C atoi over a column's text, without atoi's undefined overflow: out of range values clamp.
int32_t ColumnInt(sqlite3_stmt* stmt, int col) {
  const unsigned char* text = sqlite3_column_text(stmt, col);
  if (text == nullptr) return 0;
  errno = 0;
  long long v = std::strtoll(reinterpret_cast<const char*>(text), nullptr, 10);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return static_cast<int32_t>(v);
}

std::string ColumnText(sqlite3_stmt* stmt, int col) {
  const unsigned char* text = sqlite3_column_text(stmt, col);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<size_t>(sqlite3_column_bytes(stmt, col)));
}

bool BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                           SQLITE_TRANSIENT) == SQLITE_OK;
}

// Builds items from the rows of a prepared statement, by column position.
std::list<NorvoMediaItem*> ReadRows(sqlite3* db, sqlite3_stmt* stmt) {
  std::list<NorvoMediaItem*> items;
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    auto* item = new NorvoMediaItem();
    const int cols = sqlite3_column_count(stmt);
    // Columns a damaged table lacks read as empty texts and zeros.
    auto text = [&](int c) { return c < cols ? ColumnText(stmt, c) : std::string(); };
    auto number = [&](int c) { return c < cols ? ColumnInt(stmt, c) : 0; };
    item->SetUriUtf8(text(1));
    item->SetParentUriUtf8(text(2));
    item->SetName(text(3));
    item->SetPath(text(4));
    item->SetFolder(text(5) == "dir");
    item->SetNumDirs(number(6));
    item->SetNumSongs(number(7));
    item->SetBitRate(number(8));
    item->SetSampleRate(number(9));
    item->SetNChannels(number(10));
    item->SetArtistB64(text(11));
    item->SetAlbumB64(text(12));
    item->SetTitleB64(text(13));
    item->SetDuration(number(14));
    item->SetSize(number(15));
    items.push_back(item);
  }
  if (rc != SQLITE_DONE) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::ReadRows - Error executing SQLite3 query: "
                  << sqlite3_errmsg(db);
  }
  return items;
}

}  // namespace

NorvoMediaDBManager::NorvoMediaDBManager() : path_(GetFullDBFilePath()) {}

NorvoMediaDBManager::NorvoMediaDBManager(const std::string& db_file_path) : path_(db_file_path) {}

NorvoMediaDBManager::~NorvoMediaDBManager() {
  LOG(LS_VERBOSE) << "NorvoMediaDBManager::~NorvoMediaDBManager - destroyed";
  // A connection left open would leak its handle and its file lock.
  if (db_ != nullptr) Close();
}

bool NorvoMediaDBManager::OpenWithFlags(int flags) {
  if (db_ != nullptr) Close();
  const int rc = sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::Open - database cannot be opened, error code = " << rc;
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  LOG(LS_INFO) << "NorvoMediaDBManager::Open - database opened";
  return true;
}

bool NorvoMediaDBManager::Open() {
  return OpenWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool NorvoMediaDBManager::OpenReadOnly() { return OpenWithFlags(SQLITE_OPEN_READONLY); }

void NorvoMediaDBManager::Close() {
  LOG(LS_INFO) << "NorvoMediaDBManager - Closing db.";
  sqlite3_close(db_);
  db_ = nullptr;
}

bool NorvoMediaDBManager::Exec(const char* sql, const char* error_prefix) {
  if (db_ == nullptr) {
    LOG(LS_ERROR) << error_prefix << "database is not open";
    return false;
  }
  char* msg = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
  if (rc != SQLITE_OK) {
    LOG(LS_ERROR) << error_prefix << (msg != nullptr ? msg : sqlite3_errmsg(db_));
  }
  sqlite3_free(msg);
  return rc == SQLITE_OK;
}

void NorvoMediaDBManager::CreateTables() {
  Exec(kCreateTableSql, "NorvoMediaDBManager - error create table = ");
  Exec(kCreateIndexSql, "NorvoMediaDBManager - error create index = ");
}

void NorvoMediaDBManager::DropTables() {
  Exec("DROP TABLE NorvoMediaItems", "NorvoMediaDBManager::DropTables - error dropping table = ");
}

int NorvoMediaDBManager::InsertItems(const std::list<NorvoMediaItem*>& items) {
  g_modified_since_last_build = true;
  if (db_ == nullptr) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::UpdateMediaDB - database is not open";
    return 0;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, kInsertSql, -1, &stmt, nullptr) != SQLITE_OK) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::UpdateMediaDB - Error executing SQLite3 statement: "
                  << sqlite3_errmsg(db_);
    return 0;
  }
  int inserted = 0;
  for (const NorvoMediaItem* item : items) {
    sqlite3_reset(stmt);
    bool ok = BindText(stmt, 1, item->Uri()) && BindText(stmt, 2, item->ParentUri()) &&
              BindText(stmt, 3, talk_base::Base64::Encode(item->Name())) &&
              BindText(stmt, 4, item->Path()) && BindText(stmt, 5, item->Type()) &&
              sqlite3_bind_int(stmt, 6, item->NumDirs()) == SQLITE_OK &&
              sqlite3_bind_int(stmt, 7, item->NumSongs()) == SQLITE_OK &&
              sqlite3_bind_int(stmt, 8, item->BitRate()) == SQLITE_OK &&
              sqlite3_bind_int(stmt, 9, item->SampleRate()) == SQLITE_OK &&
              sqlite3_bind_int(stmt, 10, item->NChannels()) == SQLITE_OK &&
              BindText(stmt, 11, TagToBase64(item->Artist())) &&
              BindText(stmt, 12, TagToBase64(item->Album())) &&
              BindText(stmt, 13, TagToBase64(item->Title())) &&
              sqlite3_bind_int(stmt, 14, item->Duration()) == SQLITE_OK &&
              sqlite3_bind_int(stmt, 15, item->Size()) == SQLITE_OK;
    if (!ok || sqlite3_step(stmt) != SQLITE_DONE) {
      LOG(LS_ERROR) << "NorvoMediaDBManager::UpdateMediaDB - Error executing SQLite3 statement: "
                    << sqlite3_errmsg(db_);
      break;
    }
    ++inserted;
    LOG(LS_VERBOSE) << "NorvoMediaDBManager::UpdateMediaDB - Insert was successful";
  }
  sqlite3_finalize(stmt);
  return inserted;
}

int NorvoMediaDBManager::UpdateMediaDB(const std::list<NorvoMediaItem*>& items) {
  // One commit for the whole list instead of one per row; rows before a failing insert stay.
  const bool own_transaction =
      db_ != nullptr && sqlite3_get_autocommit(db_) != 0 &&
      Exec("BEGIN IMMEDIATE", "NorvoMediaDBManager::UpdateMediaDB - cannot begin: ");
  const int inserted = InsertItems(items);
  if (own_transaction) Exec("COMMIT", "NorvoMediaDBManager::UpdateMediaDB - cannot commit: ");
  return inserted;
}

int NorvoMediaDBManager::RebuildMediaDB(const std::list<NorvoMediaItem*>& items) {
  if (db_ == nullptr) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::RebuildMediaDB - database is not open";
    return 0;
  }
  // Should the transaction not start, the rebuild still runs statement by statement.
  const bool in_transaction =
      Exec("BEGIN IMMEDIATE", "NorvoMediaDBManager::RebuildMediaDB - cannot begin: ");
  DropTables();
  CreateTables();
  const int inserted = InsertItems(items);
  if (in_transaction && !Exec("COMMIT", "NorvoMediaDBManager::RebuildMediaDB - cannot commit: ")) {
    Exec("ROLLBACK", "NorvoMediaDBManager::RebuildMediaDB - cannot roll back: ");
    return 0;
  }
  LOG(LS_INFO) << "NorvoMediaDBManager::RebuildMediaDB - rows inserted: " << inserted;
  return inserted;
}

std::list<NorvoMediaItem*> NorvoMediaDBManager::QueryMediaItemsWithSqlCmd(const std::string& sql) {
  if (db_ == nullptr) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::QueryMediaItemsWithSqlCmd - database is not open";
    return {};
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::QueryMediaItemsWithSqlCmd - Error executing SQLite3 "
                     "query: "
                  << sqlite3_errmsg(db_);
    return {};
  }
  std::list<NorvoMediaItem*> items = ReadRows(db_, stmt);
  sqlite3_finalize(stmt);
  return items;
}

std::list<NorvoMediaItem*> NorvoMediaDBManager::QueryWithText(const char* sql,
                                                              const std::string& arg) {
  if (db_ == nullptr) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::QueryWithText - database is not open";
    return {};
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK || !BindText(stmt, 1, arg)) {
    LOG(LS_ERROR) << "NorvoMediaDBManager::QueryWithText - Error executing SQLite3 query: "
                  << sqlite3_errmsg(db_);
    sqlite3_finalize(stmt);
    return {};
  }
  std::list<NorvoMediaItem*> items = ReadRows(db_, stmt);
  sqlite3_finalize(stmt);
  return items;
}

std::list<NorvoMediaItem*> NorvoMediaDBManager::BrowseMediaItem(const std::string& uri) {
  const std::string target = uri.empty() ? std::string(norvo::kRootUri) : uri;
  if (!norvo::IsValidMediaUri(target)) {
    LOG(LS_WARNING) << "NorvoMediaDBManager::BrowseMediaItem - refusing a malformed uri of "
                    << uri.size() << " bytes";
    return {};
  }
  return QueryWithText(kBrowseSql, target);
}

std::list<NorvoMediaItem*> NorvoMediaDBManager::QueryMediaItemWithUri(const std::string& uri) {
  if (!norvo::IsValidMediaUri(uri)) {
    LOG(LS_WARNING) << "NorvoMediaDBManager::QueryMediaItemWithUri - refusing a malformed uri of "
                    << uri.size() << " bytes";
    return {};
  }
  return QueryWithText(kUriSql, uri);
}

bool NorvoMediaDBManager::HasMediaTable() {
  if (db_ == nullptr) return false;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, kTableCheckSql, -1, &stmt, nullptr) != SQLITE_OK) {
    LOG(LS_ERROR) << "NorvoMediaDBManager:SelfCheck - error locating table = "
                  << sqlite3_errmsg(db_);
    return false;
  }
  const bool found = sqlite3_step(stmt) == SQLITE_ROW;
  sqlite3_finalize(stmt);
  return found;
}

bool NorvoMediaDBManager::SelfCheck() {
  if (db_ == nullptr) {
    LOG(LS_ERROR) << "NorvoMediaDBManager:SelfCheck - database is not open, nothing to check.";
    return true;
  }
  if (HasMediaTable()) {
    LOG(LS_INFO) << "NorvoMediaDBManager:SelfCheck - Target table is located.";
    return true;
  }
  LOG(LS_WARNING) << "NorvoMediaDBManager:SelfCheck -Table not found, rebuild it now.";
  Close();
  if (!Open()) return true;
  std::list<NorvoMediaItem*> items;
  int songs = 0;
  int folders = 0;
  NorvoWinUtilities::ScanAndBuildMediaItemList("", &items, nullptr, NorvoGlobalContext::Instance(),
                                               &songs, &folders);
  LOG(LS_INFO) << "NorvoMediaDBManager - Scan completed, number of items scanned: " << items.size()
               << ", number of songs: " << songs << ", number of folders: " << folders;
  // Table and rows in one transaction, so that no reader meets a half-built library.
  RebuildMediaDB(items);
  norvo::DeleteMediaItems(&items);
  return true;
}

std::string NorvoMediaDBManager::GetFullDBFilePath() {
  const char* dir = NorvoGlobalContext::GetAppUserDataDir();
  std::string path = dir != nullptr ? dir : "";
  if (!path.empty() && path.back() != '/') path += '/';
  return path + kDbFileName;
}

std::string NorvoMediaDBManager::RetrieveDBFileChecksum(bool forced) {
  std::lock_guard<std::mutex> lock(g_checksum_mutex);
  if (forced || g_modified_since_last_build.exchange(false)) {
    g_current_checksum = NorvoCommon::CalculateMD5FromFile(GetFullDBFilePath());
  }
  LOG(LS_INFO) << "NorvoMediaDBManager:RetrieveDBFileChecksum - Current checksum: "
               << g_current_checksum;
  return g_current_checksum;
}

std::string NorvoMediaDBManager::FileChecksum(const std::string& path) {
  return NorvoCommon::CalculateMD5FromFile(path);
}

namespace NorvoCommon {

std::string CalculateMD5FromFile(const std::string& path) {
  size_t size = 0;
  talk_base::Filesystem::GetFileSize(path, &size);
  talk_base::FileStream stream;
  if (!stream.Open(path, "rb")) {
    LOG(LS_ERROR) << "CalculateMD5FromFile - Cannot open file";
    return std::string();
  }
  talk_base::MD5 md5;
  std::string buffer(4096, '\0');
  size_t total = 0;
  bool failed = false;
  for (;;) {
    size_t read = 0;
    int error = 0;
    const talk_base::StreamResult r = stream.Read(buffer.data(), buffer.size(), &read, &error);
    if (r == talk_base::SR_SUCCESS) {
      md5.Update(buffer.data(), read);
      total += read;
    } else if (r == talk_base::SR_EOS) {
      LOG(LS_VERBOSE) << "CalculateMD5FromFile - Hit EOF, stop reading";
      break;
    } else {
      LOG(LS_ERROR) << "CalculateMD5FromFile - Error occurred during file read, stop reading now";
      failed = true;
      break;
    }
  }
  stream.Close();
  if (failed) {
    LOG(LS_ERROR) << "CalculateMD5FromFile - Error occurred during file reading, empty string "
                     "will be returned";
    return std::string();
  }
  if (total != size) {
    LOG(LS_WARNING) << "CalculateMD5FromFile - Error occurred, total bytes read is not equal to "
                       "file size: "
                    << size;
  }
  return md5.HexFinal();
}

}  // namespace NorvoCommon
