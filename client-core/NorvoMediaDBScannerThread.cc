#include "client-core/NorvoMediaDBScannerThread.h"

#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoMediaDBManager.h"
#include "client-core/NorvoMediaFileAnalyzer.h"
#include "messaging/base/base64.h"
#include "messaging/base/logging.h"
#include "messaging/base/md5.h"

using norvo::NorvoMediaItem;

namespace NorvoWinUtilities {

namespace {

std::atomic<int> g_scan_workers{0};

// The walk first lays the library out as a sequence of slots in pre-order; the files are then
// analysed in parallel, and the slots are consumed in order, so rows keep the walk's order.
struct ScanSlot {
  enum Kind { kNote, kFolder, kFile };
  Kind kind = kNote;
  std::string text;                      // kNote: the message; kFile: the file name
  size_t folder = 0;                     // kFile: index of its folder path
  std::unique_ptr<NorvoMediaItem> item;  // kFolder: the item; kFile: the analysis result
};

struct FolderId {
  dev_t dev;
  ino_t ino;
  bool operator==(const FolderId& o) const { return dev == o.dev && ino == o.ino; }
};

class Walker {
 public:
  // Lays out one folder's subtree; `path` is on the walk's path already (its id pushed).
  void WalkFolder(const std::string& path, const std::vector<FolderEntry>* listed) {
    Note(path);
    std::vector<FolderEntry> own;
    if (listed == nullptr) {
      ListFolderEntries(path, &own);
      listed = &own;
    }
    if (listed->empty()) {
      LOG(LS_INFO) << "NorvoWinUtilities::ScanAndBuildMediaItemList - MEDIA SCAN - :Cannot "
                      "access this folder! It does not exit or not valid "
                   << path;
      return;
    }
    const std::string parent_uri = talk_base::MD5::Hex(path);
    size_t folder_index = folder_paths_.size();
    folder_paths_.push_back(path);
    parent_uris_.push_back(parent_uri);
    for (const FolderEntry& entry : *listed) {
      const std::string full = path + "/" + entry.name;
      if (!entry.is_dir) {
        ScanSlot slot;
        slot.kind = ScanSlot::kFile;
        slot.text = entry.name;
        slot.folder = folder_index;
        slots_.push_back(std::move(slot));
        continue;
      }
      struct stat st;
      if (stat(full.c_str(), &st) != 0) continue;
      const FolderId id{st.st_dev, st.st_ino};
      if (std::find(on_path_.begin(), on_path_.end(), id) != on_path_.end()) {
        LOG(LS_WARNING) << "NorvoWinUtilities::ScanAndBuildMediaItemList - MEDIA SCAN - skipping "
                           "a folder that leads back into the walk: "
                        << full;
        continue;
      }
      std::vector<FolderEntry> sub;
      ListFolderEntries(full, &sub);
      int dirs = 0;
      int songs = 0;
      CountFolderEntries(sub, &dirs, &songs);
      if (dirs == 0 && songs == 0) {
        LOG(LS_VERBOSE) << "NorvoWinUtilities::ScanAndBuildMediaItemList - MEDIA SCAN - This sub "
                           "folder has no songs.";
        continue;
      }
      AddFolder(entry.name, full, parent_uri, dirs, songs);
      on_path_.push_back(id);
      WalkFolder(full, &sub);
      on_path_.pop_back();
    }
  }

  // A shared folder: always listed, then its subtree.
  void WalkSharedFolder(const std::string& path) {
    Note(path);
    std::vector<FolderEntry> entries;
    ListFolderEntries(path, &entries);
    int dirs = 0;
    int songs = 0;
    CountFolderEntries(entries, &dirs, &songs);
    const size_t slash = path.rfind('/');
    AddFolder(slash == std::string::npos ? path : path.substr(slash + 1), path, norvo::kRootUri,
              dirs, songs);
    struct stat st;
    const bool known = stat(path.c_str(), &st) == 0;
    if (known) on_path_.push_back(FolderId{st.st_dev, st.st_ino});
    WalkFolder(path, &entries);
    if (known) on_path_.pop_back();
  }

  // The walk of a folder given by path alone: its own id starts the walk's path.
  void WalkRoot(const std::string& path) {
    struct stat st;
    const bool known = stat(path.c_str(), &st) == 0;
    if (known) on_path_.push_back(FolderId{st.st_dev, st.st_ino});
    WalkFolder(path, nullptr);
    if (known) on_path_.pop_back();
  }

  std::vector<ScanSlot>& slots() { return slots_; }
  const std::string& folder_path(size_t i) const { return folder_paths_[i]; }
  const std::string& parent_uri(size_t i) const { return parent_uris_[i]; }

 private:
  void Note(const std::string& text) {
    ScanSlot slot;
    slot.kind = ScanSlot::kNote;
    slot.text = text;
    slots_.push_back(std::move(slot));
  }

  void AddFolder(const std::string& name, const std::string& full, const std::string& parent_uri,
                 int dirs, int songs) {
    auto item = std::make_unique<NorvoMediaItem>();
    item->SetValid(true);
    item->SetFolder(true);
    item->SetName(name);
    item->SetUriUtf8(talk_base::MD5::Hex(full));
    item->SetParentUriUtf8(parent_uri);
    item->SetPath(talk_base::Base64::Encode(full));
    item->SetNumDirs(dirs);
    item->SetNumSongs(songs);
    ScanSlot slot;
    slot.kind = ScanSlot::kFolder;
    slot.item = std::move(item);
    slots_.push_back(std::move(slot));
  }

  std::vector<ScanSlot> slots_;
  std::vector<std::string> folder_paths_;
  std::vector<std::string> parent_uris_;
  std::vector<FolderId> on_path_;
};

// Analyses the file slots on worker threads while the calling thread takes the results in
// order: the progress calls stay on the calling thread and in the walk's order.
class Analyzer {
 public:
  Analyzer(Walker* walker, const NorvoGlobalSetting* settings)
      : walker_(walker), settings_(settings) {
    for (size_t i = 0; i < walker->slots().size(); ++i) {
      if (walker->slots()[i].kind == ScanSlot::kFile) files_.push_back(i);
    }
    done_.assign(files_.size(), 0);
  }

  ~Analyzer() {
    for (std::thread& t : workers_) t.join();
  }

  void Start() {
    int n = g_scan_workers.load();
    if (n <= 0) n = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    n = std::min<int>(n, static_cast<int>(files_.size()));
    for (int i = 0; i < n; ++i) workers_.emplace_back([this] { Work(); });
  }

  // Blocks until the result for the k-th file is ready (analysing it here when no worker runs).
  void WaitFor(size_t k) {
    if (workers_.empty()) {
      Analyse(k);
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return done_[k] != 0; });
  }

  size_t FileCount() const { return files_.size(); }

 private:
  void Work() {
    for (;;) {
      const size_t k = next_.fetch_add(1);
      if (k >= files_.size()) return;
      Analyse(k);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[k] = 1;
      }
      ready_.notify_all();
    }
  }

  void Analyse(size_t k) {
    ScanSlot& slot = walker_->slots()[files_[k]];
    slot.item = AnalyzeFile(walker_->folder_path(slot.folder), slot.text, slot.text, settings_);
  }

  Walker* walker_;
  const NorvoGlobalSetting* settings_;
  std::vector<size_t> files_;
  std::vector<char> done_;
  std::atomic<size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::thread> workers_;
};

}  // namespace

void SetMediaScanWorkers(int workers) { g_scan_workers = workers; }

void ScanAndBuildMediaItemList(const std::string& root_path, std::list<NorvoMediaItem*>* items,
                               NorvoProgressUI* progress, const NorvoGlobalSetting* settings,
                               int* songs, int* folders) {
  Walker walker;
  if (root_path.empty()) {
    if (settings != nullptr && settings->publicFolderList) {
      for (const std::string& folder : *settings->publicFolderList) {
        walker.WalkSharedFolder(folder);
      }
    }
  } else {
    walker.WalkRoot(root_path);
  }

  Analyzer analyzer(&walker, settings);
  analyzer.Start();
  size_t file_index = 0;
  for (ScanSlot& slot : walker.slots()) {
    switch (slot.kind) {
      case ScanSlot::kNote:
        if (progress != nullptr) progress->OnMessage(MSG_HINT_SCANNING, slot.text);
        break;
      case ScanSlot::kFolder:
        items->push_back(slot.item.release());
        ++*folders;
        break;
      case ScanSlot::kFile: {
        analyzer.WaitFor(file_index++);
        std::unique_ptr<NorvoMediaItem> item = std::move(slot.item);
        if (item == nullptr || !item->IsValid()) break;
        if (progress != nullptr) progress->OnMessage(MSG_HINT_SCANNING, slot.text);
        item->SetParentUriUtf8(walker.parent_uri(slot.folder));
        items->push_back(item.release());
        ++*songs;
        break;
      }
    }
    // Text no longer needed is released as the list grows.
    std::string().swap(slot.text);
  }
  if (root_path.empty()) {
    LOG(LS_INFO) << "NorvoWinUtilities::ScanAndBuildMediaItemList - MEDIA SCAN -  Browse root done";
  }
}

}  // namespace NorvoWinUtilities

NorvoMediaDBScannerThread::NorvoMediaDBScannerThread() = default;

NorvoMediaDBScannerThread::~NorvoMediaDBScannerThread() {
  Wait();
  norvo::DeleteMediaItems(&items_);
}

bool NorvoMediaDBScannerThread::Start() {
  if (thread_.joinable()) {
    LOG(LS_ERROR) << "NorvoMediaDBScannerThread::Start - a rebuild was started already";
    return false;
  }
  running_ = true;
  thread_ = std::thread([this] { Thread(); });
  return true;
}

void NorvoMediaDBScannerThread::Wait() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void NorvoMediaDBScannerThread::Thread() {
  ThreadStarted();
  const NorvoGlobalSetting* settings =
      settings_ != nullptr ? settings_ : NorvoGlobalContext::Instance();
  norvo::DeleteMediaItems(&items_);
  songs_ = 0;
  folders_ = 0;
  // The scan comes first and the table is replaced afterwards in one transaction, so that
  // devices browsing meanwhile see the previous library rather than an empty one.
  NorvoWinUtilities::ScanAndBuildMediaItemList("", &items_, progress_, settings, &songs_,
                                               &folders_);
  LOG(LS_INFO) << "NorvoMediaDBScannerThread::Thread - Scan completed, number of items scanned: "
               << items_.size() << ", number of songs: " << songs_
               << ", nubmer of folders: " << folders_;
  if (progress_ != nullptr) progress_->OnMessage(MSG_HINT_SCAN_DONE, std::string());
  {
    auto db = db_path_.empty() ? std::make_unique<NorvoMediaDBManager>()
                               : std::make_unique<NorvoMediaDBManager>(db_path_);
    rows_ = db->Open() ? db->RebuildMediaDB(items_) : 0;
    db->Close();
  }
  if (settings_ == nullptr || settings_ == NorvoGlobalContext::Instance()) {
    NorvoGlobalContext::SetRescanNeeded(false);
  }
  running_ = false;
  if (progress_ != nullptr) progress_->OnFinish(finish_value_);
}
