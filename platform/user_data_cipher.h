// Authenticated encryption of the stored user data: AES-256-GCM with the key SHA-256(key text),
// a fresh random 12-byte nonce for every message, stored as nonce, ciphertext, 16-byte tag.
//
//   platform::UserDataCipher cipher;
//   std::string sealed;
//   if (cipher.Encrypt(document, &sealed)) ...      // the built-in key
//   if (!cipher.Decrypt(sealed, &document)) ...     // tampered, truncated or another key
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

class UserDataCipher {
 public:
  static constexpr size_t kNonceSize = 12;
  static constexpr size_t kTagSize = 16;
  static constexpr size_t kOverhead = kNonceSize + kTagSize;

  UserDataCipher() = default;

  // Chooses the key text: `key` itself when given, else one built at run time from the built-in
  // pass phrase and at most five characters of `salt`. False when no key can be made.
  bool SetKey(const char* key, const char* salt);

  // Uses the built-in key unless SetKey chose another. False on failure, with error_text() set.
  bool Encrypt(std::string_view plain, std::string* sealed);
  // False (and `plain` empty) when the data is too short, was changed or was sealed with
  // another key.
  bool Decrypt(std::string_view sealed, std::string* plain);

  const std::string& error_text() const { return error_text_; }

  // The key text made from a pass phrase and salt (exposed for tests of its construction).
  static std::string KeyTextFromPassPhrase(std::string_view pass_phrase, const char* salt);
  // The length of the built-in pass phrase.
  static size_t BuiltInPassPhraseLength();

 private:
  bool EnsureKey();

  bool have_key_ = false;
  unsigned char key_[32] = {};
  std::string error_text_;
};

}  // namespace platform
