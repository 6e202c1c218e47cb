// Standard Base64 (RFC 4648 alphabet, "=" padding).
#pragma once

#include <string>

namespace talk_base {

class Base64 {
 public:
  static std::string Encode(const std::string& data);
  static std::string Encode(const void* data, size_t len);
  // Strict: refuses characters outside the alphabet, wrong padding and lengths that are not a
  // multiple of four. On failure returns false and leaves *out empty.
  static bool Decode(const std::string& data, std::string* out);
};

}  // namespace talk_base
