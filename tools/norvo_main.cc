// norvo: the hub's command-line tool for users, support and device developers.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/commands.h"

namespace {

void PrintUsage(FILE* out) {
  std::fputs(
      "usage: norvo COMMAND [ARGS]\n"
      "\n"
      "commands:\n"
      "  library scan|browse|show|checksum   check and rebuild the media library\n"
      "  transcode [--start S] [--buffer B] FILE\n"
      "                                      write a song's stream as a device receives it\n"
      "  frames                              check a song stream read on standard input\n"
      "  device signin ...                   sign in as a device\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string command = argv[1];
  // Each command sees its own arguments, argv[0] being the command's name.
  const int sub_argc = argc - 1;
  char** sub_argv = argv + 1;
  if (command == "library") return norvo_tool::RunLibrary(sub_argc, sub_argv);
  if (command == "transcode") return norvo_tool::RunTranscode(sub_argc, sub_argv);
  if (command == "frames") return norvo_tool::RunFrames(sub_argc, sub_argv);
  if (command == "device") return norvo_tool::RunDevice(sub_argc, sub_argv);
  if (command == "help" || command == "--help" || command == "-h") {
    PrintUsage(stdout);
    return 0;
  }
  std::fprintf(stderr, "norvo: unknown command \"%s\"\n", command.c_str());
  PrintUsage(stderr);
  return 2;
}
