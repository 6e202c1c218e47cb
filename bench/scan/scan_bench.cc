// bench_scan: rebuilds a generated library of 2,000 MP3 songs (3 to 30 seconds, tagged, every
// fifth with an embedded cover, in 100 folders) and prints songs per second, wall and CPU time
// and peak memory, then times the parts alone: FFmpeg probing, TagLib reads and the inserts.
//
//   bench_scan [--corpus DIR] [--workers N] [--runs N]
//
// The corpus is made once in DIR (default /tmp/norvo-scan-corpus) and reused; the file cache is
// warmed before timing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoMediaDBManager.h"
#include "client-core/NorvoMediaDBScannerThread.h"
#include "client-core/NorvoMediaFileAnalyzer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 100;
constexpr int kSongsPerFolder = 20;

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
         (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool MakeCorpus(const std::string& dir) {
  const std::string stamp = dir + "/.complete";
  if (fs::exists(stamp)) return true;
  std::fprintf(stderr, "bench_scan: generating the corpus in %s\n", dir.c_str());
  fs::remove_all(dir);
  fs::create_directories(dir + "/.base");
  // One encoded sine per length; the songs are tagged copies of them.
  for (int s = 3; s <= 30; ++s) {
    const std::string cmd = std::string(NORVO_FFMPEG) +
                            " -hide_banner -loglevel error -nostdin -f lavfi -i "
                            "sine=frequency=" +
                            std::to_string(200 + 20 * s) + ":duration=" + std::to_string(s) +
                            " -ac 2 -c:a libmp3lame -b:a 128k -y '" + dir + "/.base/" +
                            std::to_string(s) + ".mp3'";
    if (std::system(cmd.c_str()) != 0) {
      std::fprintf(stderr, "bench_scan: ffmpeg failed: %s\n", cmd.c_str());
      return false;
    }
  }
  std::string cover(24 * 1024, '\0');
  for (size_t i = 0; i < cover.size(); ++i) cover[i] = static_cast<char>(i * 131 + 7);
  cover[0] = '\xff';
  cover[1] = '\xd8';
  int n = 0;
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder =
        dir + "/Artist " + std::to_string(f / 10) + "/Album " + std::to_string(f);
    fs::create_directories(folder);
    for (int i = 0; i < kSongsPerFolder; ++i, ++n) {
      const std::string path = folder + "/" + std::to_string(i + 1) + " Track.mp3";
      fs::copy_file(dir + "/.base/" + std::to_string(3 + n % 28) + ".mp3", path,
                    fs::copy_options::overwrite_existing);
      TagLib::MPEG::File file(path.c_str(), false);
      TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
      tag->setTitle(TagLib::String("Track " + std::to_string(n) + " – ça", TagLib::String::UTF8));
      tag->setArtist(TagLib::String("Artist " + std::to_string(f / 10), TagLib::String::UTF8));
      tag->setAlbum(TagLib::String("Album " + std::to_string(f), TagLib::String::UTF8));
      if (n % 5 == 0) {
        auto* frame = new TagLib::ID3v2::AttachedPictureFrame();
        frame->setMimeType("image/jpeg");
        frame->setPicture(TagLib::ByteVector(cover.data(), static_cast<unsigned>(cover.size())));
        tag->addFrame(frame);
      }
      file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers);
    }
  }
  std::ofstream(stamp) << "ok\n";
  return true;
}

std::vector<std::string> Songs(const std::string& dir) {
  std::vector<std::string> songs;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().extension() == ".mp3" &&
        e.path().parent_path().filename() != ".base") {
      songs.push_back(e.path().string());
    }
  }
  return songs;
}

void WarmCache(const std::vector<std::string>& songs) {
  std::vector<char> buf(1 << 16);
  for (const std::string& s : songs) {
    std::ifstream in(s, std::ios::binary);
    while (in.read(buf.data(), static_cast<std::streamsize>(buf.size()))) {
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string corpus = "/tmp/norvo-scan-corpus";
  int workers = 0;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--corpus") corpus = argv[i + 1];
    if (a == "--workers") workers = std::atoi(argv[i + 1]);
    if (a == "--runs") runs = std::atoi(argv[i + 1]);
  }
  av_log_set_level(AV_LOG_QUIET);
  if (!MakeCorpus(corpus)) return 1;
  const std::vector<std::string> songs = Songs(corpus);
  WarmCache(songs);
  std::printf("corpus: %zu songs in %s\n", songs.size(), corpus.c_str());

  NorvoGlobalContext::Init(NorvoAppRole_Hub);
  NorvoGlobalSetting* settings = NorvoGlobalContext::Instance();
  settings->publicFolderList->push_back(corpus);
  const std::string db_path = fs::temp_directory_path().string() + "/norvo-bench-scan.db";
  NorvoWinUtilities::SetMediaScanWorkers(workers);

  const long rss_before = PeakRssKb();
  double best = 0;
  double best_cpu = 0;
  int songs_accepted = 0;
  for (int r = 0; r < runs; ++r) {
    const double wall0 = Now();
    const double cpu0 = CpuSeconds();
    NorvoMediaDBScannerThread scanner;
    scanner.SetSettings(settings);
    scanner.SetDatabasePath(db_path);
    scanner.Start();
    scanner.Wait();
    const double wall = Now() - wall0;
    const double cpu = CpuSeconds() - cpu0;
    std::printf("rebuild %d: %d songs, %zu rows, wall %.3f s, cpu %.3f s, %.0f songs/s\n", r + 1,
                scanner.SongCount(), scanner.Items().size(), wall, cpu, scanner.SongCount() / wall);
    if (r == 0 || wall < best) best = wall;
    if (r == 0 || cpu < best_cpu) best_cpu = cpu;
    songs_accepted = scanner.SongCount();
  }
  std::printf("best rebuild: %.0f songs/s wall, %.0f songs per cpu second\n", songs_accepted / best,
              songs_accepted / best_cpu);
  std::printf("peak memory: %ld KiB (%ld KiB before the first rebuild)\n", PeakRssKb(), rss_before);

  // The parts alone, on one thread.
  {
    double t0 = CpuSeconds();
    for (const std::string& s : songs) {
      norvo::NorvoMediaItem item;
      NorvoWinUtilities::RetrieveCriticalMediaInfo(&item, s, settings);
    }
    const double ffmpeg = CpuSeconds() - t0;
    t0 = CpuSeconds();
    for (const std::string& s : songs) {
      TagLib::FileRef ref(s.c_str(), false);
      if (!ref.isNull() && ref.tag() != nullptr) (void)ref.tag()->title();
    }
    const double taglib = CpuSeconds() - t0;
    std::list<norvo::NorvoMediaItem*> items;
    int n_songs = 0;
    int n_dirs = 0;
    NorvoWinUtilities::ScanAndBuildMediaItemList("", &items, nullptr, settings, &n_songs, &n_dirs);
    t0 = CpuSeconds();
    const double wall0 = Now();
    NorvoMediaDBManager db(db_path);
    db.Open();
    db.RebuildMediaDB(items);
    db.Close();
    const double sqlite = CpuSeconds() - t0;
    const double sqlite_wall = Now() - wall0;
    norvo::DeleteMediaItems(&items);
    std::printf(
        "parts alone, one thread, cpu time: ffmpeg probing %.3f s (%.0f files/s), taglib %.3f s "
        "(%.0f files/s), sqlite rebuild of %d rows %.3f s (wall %.3f s)\n",
        ffmpeg, songs.size() / ffmpeg, taglib, songs.size() / taglib, n_songs + n_dirs, sqlite,
        sqlite_wall);
  }
  fs::remove(db_path);
  return 0;
}
