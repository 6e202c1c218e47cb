#include "messaging/base/base64.h"

#include <cstdint>

namespace talk_base {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a Base64 digit, or -1 for anything outside the alphabet ('=' included).
int DigitValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string Base64::Encode(const std::string& data) { return Encode(data.data(), data.size()); }

std::string Base64::Encode(const void* data, size_t len) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve((len + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= len; i += 3) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = len - i;
  if (rest == 1) {
    const uint32_t v = uint32_t{in[i]} << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool Base64::Decode(const std::string& data, std::string* out) {
  if (out == nullptr) return false;
  out->clear();
  if (data.size() % 4 != 0) return false;
  std::string result;
  result.reserve(data.size() / 4 * 3);
  for (size_t i = 0; i < data.size(); i += 4) {
    const bool last = i + 4 == data.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const unsigned char c = static_cast<unsigned char>(data[i + k]);
      if (c == '=') {
        // Padding only in the last group, only in its last two places, and only at the end.
        if (!last || k < 2) return false;
        ++pad;
        v[k] = 0;
        continue;
      }
      if (pad > 0) return false;  // a digit after "="
      v[k] = DigitValue(c);
      if (v[k] < 0) return false;
    }
    const uint32_t n =
        (uint32_t(v[0]) << 18) | (uint32_t(v[1]) << 12) | (uint32_t(v[2]) << 6) | uint32_t(v[3]);
    // The bits that padding leaves over must be zero, so every text has one decoding only.
    if (pad == 2 && (n & 0xFFFF) != 0) return false;
    if (pad == 1 && (n & 0xFF) != 0) return false;
    result += static_cast<char>((n >> 16) & 0xFF);
    if (pad < 2) result += static_cast<char>((n >> 8) & 0xFF);
    if (pad < 1) result += static_cast<char>(n & 0xFF);
  }
  out->swap(result);
  return true;
}

}  // namespace talk_base
