// norvo library: check and rebuild the media library from the command line.
//
//   norvo library scan [--data-dir DIR] FOLDER...   rebuild DIR/NorvoMedia.db from FOLDERs
//   norvo library browse [--data-dir DIR] [URI]      the browse reply body a device receives
//   norvo library show [--data-dir DIR] URI          every field of the item(s), decoded
//   norvo library checksum [--data-dir DIR]          the digest the probe reply carries
//
// DIR defaults to the user data folder. Exit status: 0 success, 2 bad usage or a malformed uri,
// 1 any other failure.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <list>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "client-core/NorvoBrowseReply.h"
#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoMediaDBManager.h"
#include "client-core/NorvoMediaDBScannerThread.h"
#include "client-core/NorvoMediaItem.h"
#include "messaging/base/base64.h"
#include "messaging/base/fileutils.h"
#include "platform/xdg_dirs.h"
#include "tools/commands.h"

namespace norvo_tool {

namespace {

constexpr const char kUsage[] =
    "usage: norvo library scan [--data-dir DIR] FOLDER...\n"
    "       norvo library browse [--data-dir DIR] [URI]\n"
    "       norvo library show [--data-dir DIR] URI\n"
    "       norvo library checksum [--data-dir DIR]\n";

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "norvo library: %s\n", problem.c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

struct Args {
  std::string data_dir;
  std::vector<std::string> operands;
};

// Parses "--data-dir DIR" (or "--data-dir=DIR") anywhere before "--"; false on a bad option.
bool ParseArgs(int argc, char** argv, int first, Args* args, std::string* problem) {
  bool options = true;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a == "--data-dir") {
      if (i + 1 >= argc) {
        *problem = "--data-dir needs a folder";
        return false;
      }
      args->data_dir = argv[++i];
    } else if (options && a.rfind("--data-dir=", 0) == 0) {
      args->data_dir = a.substr(11);
    } else if (options && a.size() > 1 && a[0] == '-') {
      *problem = "unknown option " + a;
      return false;
    } else {
      args->operands.push_back(a);
    }
  }
  if (args->data_dir.empty()) {
    const std::string home = platform::DataHome();
    if (home.empty()) {
      *problem = "no user data folder known; give --data-dir";
      return false;
    }
    args->data_dir = home + "/Norvo/";
  }
  if (args->data_dir.back() != '/') args->data_dir += '/';
  return true;
}

// Bytes from file names and tags are shown with control characters escaped, so that no name
// can drive the terminal.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Decoded(const std::string& b64) {
  std::string plain;
  if (b64.empty()) return std::string();
  if (!talk_base::Base64::Decode(b64, &plain)) return "(not Base64: " + Printable(b64) + ")";
  return Printable(plain);
}

// Progress on a terminal: one line rewritten in place.
class TerminalProgress : public NorvoProgressUI {
 public:
  TerminalProgress() : tty_(isatty(STDERR_FILENO) == 1) {}
  void OnMessage(int hint, const std::string& message) override {
    if (!tty_) return;
    std::string text = hint == MSG_HINT_SCAN_DONE ? "writing the library" : Printable(message);
    if (text.size() > 70) text = "..." + text.substr(text.size() - 67);
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
  }
  void OnFinish(int) override {
    if (tty_) std::fputs("\r\033[K", stderr);
  }

 private:
  bool tty_;
};

int Scan(const Args& args) {
  if (args.operands.empty()) return Usage("scan needs at least one folder");
  if (!talk_base::Filesystem::CreateFolder(args.data_dir)) {
    std::fprintf(stderr, "norvo library: cannot create %s\n", args.data_dir.c_str());
    return 1;
  }
  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalContext::SetAppUserDataDir(args.data_dir.c_str());
  NorvoGlobalSetting* settings = NorvoGlobalContext::Instance();
  settings->publicFolderList->clear();
  for (const std::string& folder : args.operands) settings->publicFolderList->push_back(folder);
  // FFmpeg's own complaints about files that are not songs would only clutter the terminal.
  av_log_set_level(AV_LOG_QUIET);

  TerminalProgress progress;
  NorvoMediaDBScannerThread scanner;
  scanner.SetProgressUI(&progress);
  scanner.Start();
  scanner.Wait();
  const size_t items = scanner.Items().size();
  if (static_cast<size_t>(scanner.RowsInserted()) != items) {
    std::fprintf(stderr, "norvo library: only %d of %zu items were written to %s\n",
                 scanner.RowsInserted(), items, NorvoMediaDBManager::GetFullDBFilePath().c_str());
    return 1;
  }
  std::printf("items: %zu, songs: %d, folders: %d\n", items, scanner.SongCount(),
              scanner.FolderCount());
  return 0;
}

// Opens DIR's library for reading; prints the problem and returns false when it is not there.
bool OpenLibrary(const Args& args, NorvoMediaDBManager* db) {
  if (!talk_base::Filesystem::IsFile(db->FilePath()) || !db->OpenReadOnly() ||
      !db->HasMediaTable()) {
    std::fprintf(stderr, "norvo library: no library in %s\n", db->FilePath().c_str());
    return false;
  }
  (void)args;
  return true;
}

int Browse(const Args& args) {
  if (args.operands.size() > 1) return Usage("browse takes at most one uri");
  const std::string uri = args.operands.empty() ? std::string() : args.operands[0];
  if (!uri.empty() && !norvo::IsValidMediaUri(uri)) {
    return Usage("malformed uri (32 lower-case hexadecimal digits expected)");
  }
  const std::string target = uri.empty() ? std::string(norvo::kRootUri) : uri;
  NorvoMediaDBManager db(args.data_dir + NorvoMediaDBManager::kDbFileName);
  if (!OpenLibrary(args, &db)) return 1;
  std::list<norvo::NorvoMediaItem*> items = db.BrowseMediaItem(target);
  std::ostringstream body;
  NorvoWinUtilities::GenerateJsonMsg(items, target, body);
  norvo::DeleteMediaItems(&items);
  std::cout << body.str() << '\n';
  return 0;
}

int Show(const Args& args) {
  if (args.operands.size() != 1) return Usage("show takes one uri");
  const std::string& uri = args.operands[0];
  if (!norvo::IsValidMediaUri(uri)) {
    return Usage("malformed uri (32 lower-case hexadecimal digits expected)");
  }
  NorvoMediaDBManager db(args.data_dir + NorvoMediaDBManager::kDbFileName);
  if (!OpenLibrary(args, &db)) return 1;
  std::list<norvo::NorvoMediaItem*> items = db.QueryMediaItemWithUri(uri);
  if (items.empty()) {
    std::fprintf(stderr, "norvo library: no item with uri %s\n", uri.c_str());
    return 1;
  }
  bool first = true;
  for (const norvo::NorvoMediaItem* item : items) {
    if (!first) std::cout << '\n';
    first = false;
    std::cout << "uri: " << item->Uri() << '\n'
              << "parent uri: " << item->ParentUri() << '\n'
              << "name: " << Decoded(item->Name()) << '\n'
              << "path: " << Decoded(item->Path()) << '\n'
              << "type: " << (item->IsFolder() ? "dir" : "file") << '\n'
              << "folders: " << item->NumDirs() << '\n'
              << "songs: " << item->NumSongs() << '\n'
              << "bit rate: " << item->BitRate() << '\n'
              << "sample rate: " << item->SampleRate() << '\n'
              << "channels: " << item->NChannels() << '\n'
              << "artist: " << Decoded(item->ArtistB64()) << '\n'
              << "album: " << Decoded(item->AlbumB64()) << '\n'
              << "title: " << Decoded(item->TitleB64()) << '\n'
              << "length: " << item->Duration() << '\n'
              << "size: " << item->Size() << '\n';
  }
  norvo::DeleteMediaItems(&items);
  return 0;
}

int Checksum(const Args& args) {
  if (!args.operands.empty()) return Usage("checksum takes no operand");
  const std::string path = args.data_dir + NorvoMediaDBManager::kDbFileName;
  const std::string digest = NorvoMediaDBManager::FileChecksum(path);
  if (digest.empty()) {
    std::fprintf(stderr, "norvo library: cannot read %s\n", path.c_str());
    return 1;
  }
  std::printf("%s\n", digest.c_str());
  return 0;
}

}  // namespace

int RunLibrary(int argc, char** argv) {
  if (argc < 2) return Usage("");
  const std::string action = argv[1];
  Args args;
  std::string problem;
  if (action == "help" || action == "--help" || action == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (action != "scan" && action != "browse" && action != "show" && action != "checksum") {
    return Usage("unknown action " + action);
  }
  if (!ParseArgs(argc, argv, 2, &args, &problem)) return Usage(problem);
  if (action == "scan") return Scan(args);
  if (action == "browse") return Browse(args);
  if (action == "show") return Show(args);
  return Checksum(args);
}

}  // namespace norvo_tool
