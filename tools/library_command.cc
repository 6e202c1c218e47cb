#include <cstdio>

#include "tools/commands.h"

namespace norvo_tool {

int RunLibrary(int, char**) {
  std::fputs("norvo library: not available in this build\n", stderr);
  return 1;
}

}  // namespace norvo_tool
