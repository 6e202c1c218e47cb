// Encryption of the stored user data for the desktop client (AES-256-GCM, see
// platform/user_data_cipher.h). Every encryption uses a fresh nonce, so two saves of the same
// document differ, and a changed or truncated file is refused instead of being parsed.
//
//   NorvoCrypt crypt;
//   std::string sealed;
//   if (crypt.EncryptStrToBinary(document, &sealed) > 0) ...
//   if (crypt.DecryptStrFromBinary(&sealed)) ...         // `sealed` now holds the document
#pragma once

#include <string>
#include <string_view>

#include "platform/user_data_cipher.h"

class NorvoCrypt {
 public:
  NorvoCrypt() = default;

  // The number of bytes in `*result` (the input's length plus 28), 0 on failure. A null key uses
  // the built-in pass phrase (with at most five characters of `pszSalt`).
  int EncryptStrToBinary(std::string_view input, std::string* result, const char* pKey = nullptr,
                         const char* pszSalt = nullptr);
  // Decrypts `data` in place. False, with `data` unchanged, when it is too short, was changed or
  // was made with another key.
  bool DecryptStrFromBinary(std::string* data, const char* pKey = nullptr,
                            const char* pszSalt = nullptr);
  // Chooses the key; run before the first operation and again whenever a key or salt is given.
  bool SetKey(const char* szKey, const char* pszSalt);

  // The outcome of the last operation and, after a failure, its text.
  bool status() const { return status_; }
  const std::string& error_text() const { return error_text_; }

 private:
  bool PrepareKey(const char* key, const char* salt);

  platform::UserDataCipher cipher_;
  bool key_ready_ = false;
  bool status_ = true;
  std::string error_text_;
};
