// The media library database: one SQLite file, "NorvoMedia.db" in the user data folder.
//
// The file is part of the device protocol: a device may download it whole and compares its MD5
// with the probe reply's checksum, so the schema text, the column order, the encodings (names,
// paths and tags as Base64 of UTF-8, "dir"/"file") and the row order (scan pre-order) are fixed.
// The file is written only by a full rebuild and read by two queries (children of a folder, item
// by uri). Every text reaches a statement through a bound parameter, and a uri that is not 32
// lower-case hex digits reaches no statement at all.
#pragma once

#include <list>
#include <string>

#include "client-core/NorvoMediaItem.h"

struct sqlite3;

class NorvoMediaDBManager {
 public:
  static constexpr const char kCreateTableSql[] =
      "CREATE TABLE NorvoMediaItems (id INTEGER PRIMARY KEY, uri STRING, parent_uri STRING, "
      "name STRING, path STRING, type STRING, num_dirs INTEGER, num_songs INTEGER, bitrate "
      "INTEGER, samplerate INTEGER, nchannels INTEGER, artist STRING, album STRING, title STRING, "
      "length INTEGER, size INTEGER)";
  static constexpr const char kCreateIndexSql[] = "CREATE INDEX Uri_Idx ON NorvoMediaItems (uri)";
  static constexpr const char kDbFileName[] = "NorvoMedia.db";

  // The database of the user data folder.
  NorvoMediaDBManager();
  // Another database file (the command-line tool, tests and benchmarks).
  explicit NorvoMediaDBManager(const std::string& db_file_path);
  virtual ~NorvoMediaDBManager();  // closes a connection still open
  NorvoMediaDBManager(const NorvoMediaDBManager&) = delete;
  NorvoMediaDBManager& operator=(const NorvoMediaDBManager&) = delete;

  // Opens the file, creating it when missing.
  bool Open();
  // Opens an existing file for reading only; a missing file is a failure and is not created.
  bool OpenReadOnly();
  bool IsOpen() const { return db_ != nullptr; }
  void Close();

  void CreateTables();
  void DropTables();
  // Inserts one row per item, in list order, in one transaction. Stops at the first failing
  // insert and keeps (commits) the rows before it. Returns the number of rows inserted.
  int UpdateMediaDB(const std::list<norvo::NorvoMediaItem*>& items);
  // A whole rebuild as one transaction: drop, create, inserts. Readers on other connections see
  // the previous library until the new one is complete. Returns the number of rows inserted.
  int RebuildMediaDB(const std::list<norvo::NorvoMediaItem*>& items);

  // Runs a query of our own (never one built from outside input). Never fails: an error gives
  // the empty list. The caller owns the list and its items.
  std::list<norvo::NorvoMediaItem*> QueryMediaItemsWithSqlCmd(const std::string& sql);
  // Children of a folder; the empty uri stands for the root. Malformed uris give the empty list.
  std::list<norvo::NorvoMediaItem*> BrowseMediaItem(const std::string& uri);
  // Rows with this uri; a malformed uri gives the empty list.
  std::list<norvo::NorvoMediaItem*> QueryMediaItemWithUri(const std::string& uri);

  // Whether the library table exists.
  bool HasMediaTable();
  // Rebuilds the table from the shared folders when it is missing. Always true.
  bool SelfCheck();

  const std::string& FilePath() const { return path_; }

  // The user data folder's database file.
  static std::string GetFullDBFilePath();
  // The digest of the user data folder's database file, recomputed when `forced` or when the
  // database was updated since the last computation.
  static std::string RetrieveDBFileChecksum(bool forced);
  // The same for another file, always computed.
  static std::string FileChecksum(const std::string& path);

 private:
  bool OpenWithFlags(int flags);
  std::list<norvo::NorvoMediaItem*> QueryWithText(const char* sql, const std::string& arg);
  int InsertItems(const std::list<norvo::NorvoMediaItem*>& items);
  bool Exec(const char* sql, const char* error_prefix);

  std::string path_;
  sqlite3* db_ = nullptr;
};

namespace NorvoCommon {
// MD5 of a file's bytes as 32 lower-case hex digits; the empty text when it cannot be read.
std::string CalculateMD5FromFile(const std::string& path);
}  // namespace NorvoCommon
