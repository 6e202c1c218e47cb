#include <cstdio>

#include "tools/commands.h"

namespace norvo_tool {

int RunDevice(int, char**) {
  std::fputs("norvo device: not available in this build\n", stderr);
  return 1;
}

}  // namespace norvo_tool
