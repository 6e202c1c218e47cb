#include "messaging/base/md5.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

#include "messaging/base/logging.h"

namespace talk_base {

struct MD5::Ctx {
  struct Free {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> evp;
  bool ok = false;

  void Reset() { ok = evp && EVP_DigestInit_ex(evp.get(), EVP_md5(), nullptr) == 1; }
};

MD5::MD5() : ctx_(std::make_unique<Ctx>()) {
  ctx_->evp.reset(EVP_MD_CTX_new());
  ctx_->Reset();
  if (!ctx_->ok) {
    LOG(LS_ERROR) << "MD5::MD5 - could not set up the digest";
  }
}

MD5::~MD5() = default;

void MD5::Update(const void* data, size_t len) {
  if (!ctx_->ok || len == 0) return;
  if (EVP_DigestUpdate(ctx_->evp.get(), data, len) != 1) ctx_->ok = false;
}

std::string MD5::HexFinal() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_len = 0;
  std::string hex;
  if (ctx_->ok && EVP_DigestFinal_ex(ctx_->evp.get(), digest, &digest_len) == 1) {
    static constexpr char kHex[] = "0123456789abcdef";
    hex.reserve(digest_len * 2);
    for (unsigned int i = 0; i < digest_len; ++i) {
      hex += kHex[digest[i] >> 4];
      hex += kHex[digest[i] & 15];
    }
  } else {
    LOG(LS_ERROR) << "MD5::HexFinal - the digest failed";
  }
  ctx_->Reset();
  return hex;
}

std::string MD5::Hex(const std::string& data) {
  MD5 md5;
  md5.Update(data.data(), data.size());
  return md5.HexFinal();
}

std::string MD5::HexOfFile(const std::string& path) {
  struct Close {
    void operator()(FILE* f) const { fclose(f); }
  };
  std::unique_ptr<FILE, Close> file(fopen(path.c_str(), "rb"));
  if (!file) {
    LOG(LS_WARNING) << "MD5::HexOfFile - cannot open " << path;
    return std::string();
  }
  MD5 md5;
  std::unique_ptr<char[]> buffer(new char[64 * 1024]);
  for (;;) {
    const size_t n = fread(buffer.get(), 1, 64 * 1024, file.get());
    if (n > 0) md5.Update(buffer.get(), n);
    if (n < 64 * 1024) break;
  }
  if (ferror(file.get())) {
    LOG(LS_WARNING) << "MD5::HexOfFile - read error in " << path;
    return std::string();
  }
  return md5.HexFinal();
}

}  // namespace talk_base
