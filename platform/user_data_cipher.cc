#include "platform/user_data_cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace platform {

namespace {

// 64 printable ASCII characters. The key text is derived from it at run time and never stored.
constexpr char kPassPhrase[] = "Kq7#vR2m!Lp9@xT4wZ8$bN3&cF6*hJ1^dG5%sY0(eU-aM)iO_oP+lQ=rW~tE<yI>";
static_assert(sizeof(kPassPhrase) - 1 == 64, "the pass phrase has 64 characters");

constexpr size_t kMaxSaltChars = 5;

struct CipherCtxDeleter {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

}  // namespace

size_t UserDataCipher::BuiltInPassPhraseLength() { return sizeof(kPassPhrase) - 1; }

std::string UserDataCipher::KeyTextFromPassPhrase(std::string_view pass_phrase, const char* salt) {
  std::string text(pass_phrase);
  if (salt != nullptr) text.append(salt, strnlen(salt, kMaxSaltChars));
  const size_t n = text.size();
  // The walk runs over the whole text (not only to its middle), so the first half is swapped
  // twice and every visited character is shifted.
  for (size_t i = 0; i + 1 < n; ++i) {
    char taken = text[n - 1 - i];
    text[n - 1 - i] = static_cast<char>(static_cast<unsigned char>(text[i]) + 5);
    text[i] = taken;
  }
  return n > 4 ? text.substr(4) : std::string();
}

bool UserDataCipher::SetKey(const char* key, const char* salt) {
  error_text_.clear();
  std::string key_text =
      key != nullptr ? std::string(key) : KeyTextFromPassPhrase(kPassPhrase, salt);
  if (key_text.empty()) {
    error_text_ = "Error creating encryption key";
    have_key_ = false;
    return false;
  }
  SHA256(reinterpret_cast<const unsigned char*>(key_text.data()), key_text.size(), key_);
  OPENSSL_cleanse(key_text.data(), key_text.size());
  have_key_ = true;
  return true;
}

bool UserDataCipher::EnsureKey() { return have_key_ || SetKey(nullptr, nullptr); }

bool UserDataCipher::Encrypt(std::string_view plain, std::string* sealed) {
  sealed->clear();
  if (!EnsureKey()) return false;
  if (plain.size() > static_cast<size_t>(INT32_MAX) - kOverhead) {
    error_text_ = "Input too large to encrypt";
    return false;
  }
  std::string out(kNonceSize + plain.size() + kTagSize, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  if (RAND_bytes(bytes, kNonceSize) != 1) {
    error_text_ = "No random nonce available";
    return false;
  }
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key_, bytes) != 1 ||
      EVP_EncryptUpdate(ctx.get(), bytes + kNonceSize, &len,
                        reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), bytes + kNonceSize + len, &len) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize,
                          bytes + kNonceSize + plain.size()) != 1) {
    error_text_ = "Encryption failed";
    return false;
  }
  *sealed = std::move(out);
  return true;
}

bool UserDataCipher::Decrypt(std::string_view sealed, std::string* plain) {
  plain->clear();
  if (!EnsureKey()) return false;
  if (sealed.size() < kOverhead || sealed.size() > static_cast<size_t>(INT32_MAX)) {
    error_text_ = "Encrypted data has a wrong size";
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(sealed.data());
  const size_t body = sealed.size() - kOverhead;
  std::string out(body, '\0');
  auto* out_bytes = reinterpret_cast<unsigned char*>(out.data());
  unsigned char tag[kTagSize];
  std::memcpy(tag, bytes + kNonceSize + body, kTagSize);
  CipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  int final_len = 0;
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key_, bytes) != 1 ||
      EVP_DecryptUpdate(ctx.get(), out_bytes, &len, bytes + kNonceSize, static_cast<int>(body)) !=
          1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), out_bytes + len, &final_len) != 1) {
    // Nothing of an unauthenticated text is handed out.
    OPENSSL_cleanse(out.data(), out.size());
    error_text_ = "Decryption failed: the data is corrupt or was changed";
    return false;
  }
  *plain = std::move(out);
  return true;
}

}  // namespace platform
