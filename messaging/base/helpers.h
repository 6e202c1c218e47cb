// Random identifiers and strings.
#pragma once

#include <cstdint>
#include <string>

namespace talk_base {

// Seeds the generator (from the system's entropy; `seed` is mixed in). Safe to call again.
bool InitRandom(const char* seed, size_t len);
// A random 32-bit value.
uint32_t CreateRandomId();
// `length` random characters from [A-Za-z0-9+/].
std::string CreateRandomString(size_t length);

}  // namespace talk_base
