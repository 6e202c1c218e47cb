// How fast a song streams: a five-minute 44,100 Hz stereo 128 kb/s MP3 read through
// NorvoMediaStream::Read, beside the same transcode by the ffmpeg command, then five streams at
// once (the hub's highest concurrency limit).
//
//   build/bin/bench_transcode [--reps N] [FILE.mp3]
//
// Without a file, one is made with the ffmpeg command (tones and noise, different in each
// channel) in a temporary folder. Prints seconds of audio per CPU second, the ratio to the
// ffmpeg command, the peak memory of one stream and the real-time factor of each of five
// concurrent streams.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "streaming/NorvoMediaStream.h"

namespace {

constexpr int kConcurrentStreams = 5;
constexpr size_t kReadSize = 65536;

double Seconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Resident-set figures of this process, in KiB.
long StatusKib(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(in, line)) {
    if (line.compare(0, n, field) == 0) return std::atol(line.c_str() + n + 1);
  }
  return -1;
}

// Starts the peak-RSS counter afresh (Linux: writing 5 to clear_refs).
bool ResetPeakRss() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  return static_cast<bool>(out);
}

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

struct StreamRun {
  bool ok = false;
  double audio_seconds = 0;
  double cpu_seconds = 0;
  double wall_seconds = 0;
  size_t bytes = 0;
  size_t peak_heap = 0;  // above the heap in use before the stream opened
};

StreamRun RunStream(const std::string& path, bool track_heap) {
  StreamRun run;
  const size_t heap_before = track_heap ? HeapInUse() : 0;
  const double wall0 = Seconds(CLOCK_MONOTONIC);
  const double cpu0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
  {
    talk_base::NorvoMediaStream stream(path, 44100, 128, 2, 0);
    if (!stream.Open(path, "rb", 0)) return run;
    std::vector<uint8_t> buffer(kReadSize);
    for (;;) {
      size_t got = 0;
      const talk_base::StreamResult r = stream.Read(buffer.data(), buffer.size(), &got, nullptr);
      if (r == talk_base::SR_EOS) break;
      if (r != talk_base::SR_SUCCESS) return run;
      run.bytes += got;
      if (track_heap) run.peak_heap = std::max(run.peak_heap, HeapInUse() - heap_before);
    }
    run.audio_seconds = static_cast<double>(stream.frame_count()) * 1024.0 / stream.sample_rate();
  }
  run.cpu_seconds = Seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
  run.wall_seconds = Seconds(CLOCK_MONOTONIC) - wall0;
  run.ok = true;
  return run;
}

// CPU seconds (user + system) the ffmpeg command takes for the same transcode.
double RunFfmpegCommand(const std::string& path) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    execlp("ffmpeg", "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i", path.c_str(),
           "-c:a", "aac", "-b:a", "128k", "-f", "adts", "-y", "/dev/null",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool MakeSong(const std::string& path) {
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "\"aevalsrc=exprs='0.3*sin(2*PI*220*t)+0.2*sin(2*PI*1250*t)*sin(2*PI*0.5*t)+0.1*(random(0)-"
      "0.5)|0.3*sin(2*PI*330*t)+0.2*sin(2*PI*880*t)+0.1*(random(1)-0.5)':s=44100:d=300\" "
      "-c:a libmp3lame -b:a 128k '" +
      path + "'";
  return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 3;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--reps" && i + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++i]));
    } else {
      path = arg;
    }
  }
  std::string folder;
  if (path.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      return 1;
    }
    folder = pattern;
    path = folder + "/song.mp3";
    std::printf("making a five-minute 44,100 Hz stereo 128 kb/s MP3 ...\n");
    if (!MakeSong(path)) {
      std::fprintf(stderr, "bench_transcode: the ffmpeg command failed\n");
      return 1;
    }
  }
  std::printf("file: %s\n", path.c_str());
  {
    std::ifstream loadavg("/proc/loadavg");
    std::string load;
    std::getline(loadavg, load);
    std::printf("load average at start: %s\n", load.c_str());
  }

  // Peak memory of one stream, first, while the process holds nothing of earlier streams:
  // resident set above what it held before, and the heap.
  ResetPeakRss();
  const long rss_before = StatusKib("VmRSS:");
  const StreamRun measured = RunStream(path, true);
  const long rss_peak = StatusKib("VmHWM:");
  std::printf("peak memory of one stream: %.1f MiB resident, %.1f MiB heap (goal: under 32 MiB)\n",
              static_cast<double>(rss_peak - rss_before) / 1024.0,
              static_cast<double>(measured.peak_heap) / (1024.0 * 1024.0));

  // One stream at a time, against the ffmpeg command; the best of `reps` runs of each.
  double best_ours = 0;
  double best_ffmpeg = 0;
  double audio_seconds = 0;
  for (int rep = 0; rep < reps; ++rep) {
    const StreamRun run = RunStream(path, false);
    if (!run.ok) {
      std::fprintf(stderr, "bench_transcode: cannot stream %s\n", path.c_str());
      return 1;
    }
    audio_seconds = run.audio_seconds;
    best_ours = std::max(best_ours, run.audio_seconds / run.cpu_seconds);
    const double ffmpeg_cpu = RunFfmpegCommand(path);
    if (ffmpeg_cpu > 0) best_ffmpeg = std::max(best_ffmpeg, run.audio_seconds / ffmpeg_cpu);
    std::printf(
        "run %d: NorvoMediaStream %.1f x real time (%.2f s CPU, %zu bytes), ffmpeg %.1f x\n",
        rep + 1, run.audio_seconds / run.cpu_seconds, run.cpu_seconds, run.bytes,
        ffmpeg_cpu > 0 ? run.audio_seconds / ffmpeg_cpu : 0.0);
  }
  std::printf("audio: %.1f s\n", audio_seconds);
  std::printf("NorvoMediaStream: %.1f s of audio per CPU second\n", best_ours);
  if (best_ffmpeg > 0) {
    std::printf("ffmpeg command:   %.1f s of audio per CPU second\n", best_ffmpeg);
    std::printf("ratio: %.3f (goal: at least 0.95)\n", best_ours / best_ffmpeg);
  } else {
    std::printf("ffmpeg command: failed\n");
  }

  // Five streams at once, one thread each, as many as the hub serves at most.
  ResetPeakRss();
  const long rss_before_five = StatusKib("VmRSS:");
  std::vector<StreamRun> runs(kConcurrentStreams);
  {
    std::vector<std::thread> threads;
    for (int i = 0; i < kConcurrentStreams; ++i) {
      threads.emplace_back([&runs, &path, i] { runs[i] = RunStream(path, false); });
    }
    for (std::thread& t : threads) t.join();
  }
  const long rss_peak_five = StatusKib("VmHWM:");
  double slowest = 1e9;
  for (int i = 0; i < kConcurrentStreams; ++i) {
    if (!runs[i].ok) {
      std::fprintf(stderr, "bench_transcode: concurrent stream %d failed\n", i + 1);
      return 1;
    }
    const double factor = runs[i].audio_seconds / runs[i].wall_seconds;
    slowest = std::min(slowest, factor);
    std::printf("concurrent stream %d: %.1f x real time (%.2f s wall, %.2f s CPU)\n", i + 1, factor,
                runs[i].wall_seconds, runs[i].cpu_seconds);
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("five streams on %u cores: slowest %.1f x real time (goal: above 25)\n", cores,
              slowest);
  // The wall-clock figure above counts whatever else the machine runs; this one is what the
  // five streams' own CPU time allows when they have the cores to themselves.
  double total_cpu = 0;
  for (const StreamRun& run : runs) total_cpu += run.cpu_seconds;
  const unsigned sharing = std::min<unsigned>(cores, kConcurrentStreams);
  std::printf("five streams, CPU-bound: each %.1f x real time with %u free cores\n",
              runs[0].audio_seconds / (total_cpu / sharing), sharing);
  std::printf("peak memory of five streams: %.1f MiB resident, %.1f MiB per stream\n",
              static_cast<double>(rss_peak_five - rss_before_five) / 1024.0,
              static_cast<double>(rss_peak_five - rss_before_five) / 1024.0 / kConcurrentStreams);

  if (!folder.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  return 0;
}
