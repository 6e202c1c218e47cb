// Whatever Decode accepts must encode back to the same text, and every encoding must decode back
// to its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "messaging/base/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string decoded;
  if (talk_base::Base64::Decode(input, &decoded)) {
    if (talk_base::Base64::Encode(decoded) != input) std::abort();
  } else if (!decoded.empty()) {
    std::abort();  // a refusal leaves the output empty
  }
  std::string back;
  if (!talk_base::Base64::Decode(talk_base::Base64::Encode(input), &back) || back != input) {
    std::abort();
  }
  return 0;
}
