// Feeds the traffic logger pieces cut from the input: each piece starts with one control byte
// whose low bit picks the direction and whose other bits give the piece's length.
//
// After every piece the held-back tail must be what the logger promises to keep: nothing with a
// '>' in it and no '<' past its first byte (everything complete was written out), within the
// size bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client-core/DebugLog.h"
#include "messaging/base/logging.h"

namespace {

size_t g_logged_bytes = 0;

void CheckTail(const std::string& tail) {
  if (tail.size() > DebugLog::kMaxPending) std::abort();
  if (tail.find('>') != std::string::npos) std::abort();
  if (tail.find('<', 1) != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool configured = [] {
    // A sink makes every traffic line get built; it keeps only a byte count.
    talk_base::LogMessage::SetSink(
        [](talk_base::LoggingSeverity, const std::string& line) { g_logged_bytes += line.size(); },
        talk_base::LS_WARNING);
    return true;
  }();
  (void)configured;

  DebugLog log;
  size_t i = 0;
  while (i < size) {
    uint8_t control = data[i++];
    size_t len = control >> 1;
    if (len > size - i) len = size - i;
    const char* piece = reinterpret_cast<const char*>(data + i);
    if (control & 1) {
      log.Output(piece, static_cast<int>(len));
      CheckTail(log.PendingOutput());
    } else {
      log.Input(piece, static_cast<int>(len));
      CheckTail(log.PendingInput());
    }
    i += len;
  }
  return 0;
}
