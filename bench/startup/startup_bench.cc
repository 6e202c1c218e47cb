// Start-up figures of the hub, printed as medians over --reps runs:
//   - a fresh hub (empty HOME, offscreen Qt) from spawn until its instance socket is up;
//   - a second copy from spawn until it has asked the first to show its window and ended (the
//     goal is well under two seconds);
//   - SaveUserData and LoadUserData2 + ParseUserData for 10, 1,000 and 10,000 shared folders.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoUserDataSave.h"
#include "client-core/NorvoWinUtilities.h"
#include "tests/host/host_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 5;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
  }
  std::vector<double> first_ms, second_ms;
  for (int r = 0; r < reps; ++r) {
    host_test::TempDir dir;
    auto env = host_test::XdgEnvUnder(dir.path());
    env["QT_QPA_PLATFORM"] = "offscreen";
    const std::string socket = dir.path() + "/run/norvo-hub.socket";
    auto t0 = Clock::now();
    host_test::Child first(NORVO_HUB_BINARY, {}, env, dir / "first.out");
    if (!host_test::WaitFor([&] { return host_test::Exists(socket); }, 30000)) {
      std::fprintf(stderr, "bench_startup: the hub did not come up\n");
      return 1;
    }
    first_ms.push_back(Ms(Clock::now() - t0));
    auto t1 = Clock::now();
    host_test::Child second(NORVO_HUB_BINARY, {}, env, dir / "second.out");
    if (second.WaitExit(30000) != 0) {
      std::fprintf(stderr, "bench_startup: the second copy did not end with 0\n");
      return 1;
    }
    second_ms.push_back(Ms(Clock::now() - t1));
    first.Signal(SIGTERM);
    first.WaitExit(30000);
  }
  std::printf("fresh hub until serving:        %8.1f ms (median of %d)\n", Median(first_ms), reps);
  std::printf("second copy hands over and ends: %7.1f ms (median of %d)\n", Median(second_ms),
              reps);

  host_test::TempDir dir;
  host_test::ScopedEnv env(host_test::XdgEnvUnder(dir.path()));
  for (int folders : {10, 1000, 10000}) {
    std::vector<double> save_ms, load_ms;
    for (int r = 0; r < reps; ++r) {
      NorvoGlobalContext::Init(NorvoAppRole_Hub);
      NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
      for (int i = 0; i < folders; ++i) {
        s->publicFolderList->push_back("/home/user/Music/Artist " + std::to_string(i) + "/Album");
      }
      auto t0 = Clock::now();
      if (NorvoUserDataSave::SaveUserData("Bench hub", s, nullptr) != NorvoUserDataSave_Ok)
        return 1;
      save_ms.push_back(Ms(Clock::now() - t0));
      NorvoGlobalContext::Init(NorvoAppRole_Hub);
      auto t1 = Clock::now();
      std::string text;
      if (NorvoWinUtilities::LoadUserData2(&text) != NorvoUserDataLoad_Ok ||
          !NorvoWinUtilities::ParseUserData(text.c_str(), NorvoGlobalContext::Instance())) {
        return 1;
      }
      load_ms.push_back(Ms(Clock::now() - t1));
    }
    std::printf("%6d folders: save %7.2f ms, load and parse %7.2f ms\n", folders, Median(save_ms),
                Median(load_ms));
  }
  return 0;
}
