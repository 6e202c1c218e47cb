// The folder scan and the library rebuild.
//
// The library is rebuilt as a whole, never piece by piece: the scan walks every shared folder
// depth first and turns folders and MP3 songs into items in pre-order (a folder precedes its
// subtree; entries follow the directory listing order), and the list replaces the database
// table in one transaction. A rebuild runs on a thread of its own, NorvoMediaDBScannerThread,
// and reports progress through NorvoProgressUI.
#pragma once

#include <atomic>
#include <list>
#include <string>
#include <thread>

#include "client-core/NorvoMediaItem.h"
#include "messaging/sigslot/sigslot.h"

struct NorvoGlobalSetting;

enum {
  MSG_HINT_SCANNING = 0,  // a folder or a song is being scanned
  MSG_HINT_SCAN_DONE = 1  // the scan is over, the database is being written
};

// Progress of a rebuild. Both calls arrive on the scanner thread; an implementation that shows
// them in a window moves them to its own thread.
class NorvoProgressUI {
 public:
  virtual ~NorvoProgressUI() = default;
  virtual void OnMessage(int hint, const std::string& message) = 0;
  // The rebuild is complete. The scanner passes -1.
  virtual void OnFinish(int value) = 0;
};

namespace NorvoWinUtilities {

// Appends the items of one folder's subtree to `items`; the empty `root_path` stands for all
// shared folders of `settings`, each listed (even when empty or missing) before its subtree.
// `progress` may be null. Adds the songs and folders appended to *songs and *folders.
// Files are analysed on several threads; the list keeps the walk's order.
void ScanAndBuildMediaItemList(const std::string& root_path,
                               std::list<norvo::NorvoMediaItem*>* items, NorvoProgressUI* progress,
                               const NorvoGlobalSetting* settings, int* songs, int* folders);

// Threads that analyse files during a scan; 0 (the default) means one per processor.
void SetMediaScanWorkers(int workers);

}  // namespace NorvoWinUtilities

class NorvoMediaDBScannerThread : public sigslot::has_slots<> {
 public:
  NorvoMediaDBScannerThread();
  virtual ~NorvoMediaDBScannerThread();  // waits for a running rebuild, then frees the list
  NorvoMediaDBScannerThread(const NorvoMediaDBScannerThread&) = delete;
  NorvoMediaDBScannerThread& operator=(const NorvoMediaDBScannerThread&) = delete;

  // Set before Start. Without them the rebuild uses the settings record and the user data
  // folder's database.
  void SetProgressUI(NorvoProgressUI* progress) { progress_ = progress; }
  void SetSettings(const NorvoGlobalSetting* settings) { settings_ = settings; }
  void SetDatabasePath(const std::string& path) { db_path_ = path; }

  // Starts the rebuild on a new thread. False when one was started already.
  bool Start();
  // Waits until the rebuild has ended.
  void Wait();
  // A rebuild cannot be cancelled; this waits for it like Wait.
  void Kill() { Wait(); }
  bool IsRunning() const { return running_; }

  // Results of the last rebuild (valid once it has ended).
  const std::list<norvo::NorvoMediaItem*>& Items() const { return items_; }
  int SongCount() const { return songs_; }
  int FolderCount() const { return folders_; }
  int RowsInserted() const { return rows_; }

 protected:
  // One complete rebuild; runs on the scanner thread.
  virtual void Thread();
  void ThreadStarted() { running_ = true; }

 private:
  std::list<norvo::NorvoMediaItem*> items_;
  int finish_value_ = -1;
  NorvoProgressUI* progress_ = nullptr;
  const NorvoGlobalSetting* settings_ = nullptr;
  std::string db_path_;
  int songs_ = 0;
  int folders_ = 0;
  int rows_ = 0;
  std::atomic<bool> running_{false};
  std::thread thread_;
};
