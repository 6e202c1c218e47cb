// Feeds the song-stream reader the input in pieces whose sizes come from the input itself, and
// checks what the reader promises: once failed it stays failed, it never reports a frame longer
// than a stream may carry, and the same bytes give the same verdict in one piece.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "streaming/NorvoMediaStream.h"

namespace {

struct Verdict {
  bool ok;
  uint64_t frames;
};

Verdict Parse(const uint8_t* data, size_t size, bool in_pieces) {
  talk_base::NorvoFrameParser parser([](const talk_base::NorvoStreamFrame& f) {
    if (f.length > talk_base::NorvoMediaStream::kMaxFrameSize) std::abort();
  });
  size_t pos = 0;
  bool failed = false;
  while (pos < size) {
    size_t n = size - pos;
    if (in_pieces) n = std::min<size_t>(n, 1 + data[pos] % 23);
    const bool fed = parser.Feed(data + pos, n);
    if (failed && fed) std::abort();  // a failed reader must stay failed
    failed = !fed;
    pos += n;
  }
  return {parser.Finish(), parser.frames()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Verdict whole = Parse(data, size, false);
  const Verdict pieces = Parse(data, size, true);
  if (whole.ok != pieces.ok || (whole.ok && whole.frames != pieces.frames)) std::abort();
  return 0;
}
