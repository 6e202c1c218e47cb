// MD5 digests in lower-case hexadecimal (through OpenSSL's EVP interface).
#pragma once

#include <memory>
#include <string>

namespace talk_base {

class MD5 {
 public:
  MD5();
  ~MD5();
  MD5(const MD5&) = delete;
  MD5& operator=(const MD5&) = delete;

  void Update(const void* data, size_t len);
  // 32 lower-case hexadecimal digits; the object starts over afterwards.
  std::string HexFinal();

  static std::string Hex(const std::string& data);
  // Digest of a whole file; empty when it cannot be read.
  static std::string HexOfFile(const std::string& path);

 private:
  struct Ctx;
  std::unique_ptr<Ctx> ctx_;
};

}  // namespace talk_base
