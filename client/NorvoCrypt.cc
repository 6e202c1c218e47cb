#include "client/NorvoCrypt.h"

#include <climits>

#include "messaging/base/logging.h"

bool NorvoCrypt::SetKey(const char* szKey, const char* pszSalt) {
  status_ = cipher_.SetKey(szKey, pszSalt);
  key_ready_ = status_;
  error_text_ = status_ ? "" : "Error creating encryption key";
  if (!status_) LOG(LS_ERROR) << "NorvoCrypt::SetKey - " << error_text_;
  return status_;
}

bool NorvoCrypt::PrepareKey(const char* key, const char* salt) {
  if (key_ready_ && key == nullptr && salt == nullptr) return true;
  return SetKey(key, salt);
}

int NorvoCrypt::EncryptStrToBinary(std::string_view input, std::string* result, const char* pKey,
                                   const char* pszSalt) {
  if (result == nullptr) return 0;
  result->clear();
  if (!PrepareKey(pKey, pszSalt)) return 0;
  status_ = cipher_.Encrypt(input, result) && result->size() <= static_cast<size_t>(INT_MAX);
  if (!status_) {
    error_text_ = cipher_.error_text();
    LOG(LS_ERROR) << "NorvoCrypt::EncryptStrToBinary - " << error_text_;
    result->clear();
    return 0;
  }
  return static_cast<int>(result->size());
}

bool NorvoCrypt::DecryptStrFromBinary(std::string* data, const char* pKey, const char* pszSalt) {
  if (data == nullptr || !PrepareKey(pKey, pszSalt)) return false;
  std::string plain;
  status_ = cipher_.Decrypt(*data, &plain);
  if (!status_) {
    error_text_ = cipher_.error_text();
    LOG(LS_ERROR) << "NorvoCrypt::DecryptStrFromBinary - " << error_text_;
    return false;
  }
  *data = std::move(plain);
  return true;
}
