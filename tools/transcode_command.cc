#include <cstdio>

#include "tools/commands.h"

namespace norvo_tool {

int RunTranscode(int, char**) {
  std::fputs("norvo transcode: not available in this build\n", stderr);
  return 1;
}

int RunFrames(int, char**) {
  std::fputs("norvo frames: not available in this build\n", stderr);
  return 1;
}

}  // namespace norvo_tool
