// The commands of the `norvo` tool. Each takes the arguments after "norvo" (argv[0] is the
// command's own name) and returns the process exit status: 0 success, 2 bad usage, 1 failure.
#pragma once

namespace norvo_tool {

int RunLibrary(int argc, char** argv);    // tools/library_command.cc
int RunTranscode(int argc, char** argv);  // tools/transcode_command.cc
int RunFrames(int argc, char** argv);     // tools/transcode_command.cc
int RunDevice(int argc, char** argv);     // tools/device_command.cc

}  // namespace norvo_tool
