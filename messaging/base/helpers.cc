#include "messaging/base/helpers.h"

#include <openssl/rand.h>

#include <cstring>
#include <vector>

#include "messaging/base/logging.h"

namespace talk_base {

namespace {

constexpr char kRandomChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool RandomBytes(void* out, size_t len) {
  auto* p = static_cast<unsigned char*>(out);
  while (len > 0) {
    const int chunk = len > (1u << 30) ? (1 << 30) : static_cast<int>(len);
    if (RAND_bytes(p, chunk) != 1) return false;
    p += chunk;
    len -= chunk;
  }
  return true;
}

}  // namespace

bool InitRandom(const char* seed, size_t len) {
  // OpenSSL seeds itself from the system; the caller's bytes are only mixed in.
  if (seed != nullptr && len > 0) {
    RAND_add(seed, len > (1u << 30) ? (1 << 30) : static_cast<int>(len), 0.0);
  }
  if (RAND_status() != 1) {
    LOG(LS_ERROR) << "talk_base::InitRandom - the generator has no entropy";
    return false;
  }
  return true;
}

uint32_t CreateRandomId() {
  uint32_t id = 0;
  if (!RandomBytes(&id, sizeof(id))) {
    LOG(LS_ERROR) << "talk_base::CreateRandomId - RAND_bytes failed";
  }
  return id;
}

std::string CreateRandomString(size_t length) {
  std::vector<unsigned char> bytes(length);
  if (length > 0 && !RandomBytes(bytes.data(), length)) {
    LOG(LS_ERROR) << "talk_base::CreateRandomString - RAND_bytes failed";
    return std::string();
  }
  std::string out(length, 'A');
  // 64 characters: six bits of each byte keep every character equally likely.
  for (size_t i = 0; i < length; ++i) out[i] = kRandomChars[bytes[i] & 63];
  return out;
}

}  // namespace talk_base
