#include "client-core/NorvoUserDataSave.h"

#include <unistd.h>

#include <openssl/crypto.h>

#include <vector>

#include "client-core/NorvoWinUtilities.h"
#include "messaging/base/logging.h"
#include "platform/user_data_cipher.h"

namespace NorvoUserDataSave {

namespace {

constexpr size_t kMaxComputerName = 128;
constexpr char kFallbackHubName[] = "Norvo Music Hub";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string TrimWhiteSpace(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string DefaultHubName() {
  std::vector<char> name(256, '\0');
  if (gethostname(name.data(), name.size() - 1) == 0 && name[0] != '\0') {
    return NorvoGlobalContext::FitText(name.data(), kMaxComputerName + 1);
  }
  return kFallbackHubName;
}

NorvoUserDataSaveResult SaveUserData(std::string_view hub_name_text, NorvoGlobalSetting* settings,
                                     std::string* hub_name_shown) {
  if (settings == nullptr) {
    LOG(LS_ERROR) << "NorvoUserDataSave::SaveUserData - No settings record";
    return NorvoUserDataSave_NoDocument;
  }
  if (settings->hubId.empty()) {
    LOG(LS_INFO) << "NorvoUserDataSave::SaveUserData - hub id is not created yet, generate a new "
                    "one";
    std::string id;
    if (NorvoWinUtilities::GenUUID(&id)) {
      settings->hubId = id;
      LOG(LS_INFO) << "NorvoUserDataSave::SaveUserData - Hub id created: " << settings->hubId;
    } else {
      LOG(LS_ERROR) << "NorvoUserDataSave::SaveUserData - Hub id cannot be created.";
    }
  } else {
    LOG(LS_INFO) << "NorvoUserDataSave::SaveUserData - hub id is already created, no need to "
                    "create a new one: "
                 << settings->hubId;
  }

  std::string name = TrimWhiteSpace(hub_name_text);
  if (name.empty()) name = DefaultHubName();
  settings->hubName = NorvoGlobalContext::FitText(name, kNorvoTextFieldSize);
  if (hub_name_shown != nullptr) *hub_name_shown = settings->hubName;

  std::string document;
  if (NorvoWinUtilities::GenerateUserSettingString2(&document, settings) <= 0) {
    LOG(LS_ERROR) << "NorvoUserDataSave::SaveUserData - No document produced";
    return NorvoUserDataSave_NoDocument;
  }
  std::string sealed;
  platform::UserDataCipher cipher;
  bool encrypted = cipher.Encrypt(document, &sealed);
  OPENSSL_cleanse(document.data(), document.size());
  if (!encrypted) {
    LOG(LS_ERROR) << "NorvoUserDataSave::SaveUserData - Encryption failed: " << cipher.error_text()
                  << "; the stored data is unchanged";
    return NorvoUserDataSave_EncryptFailed;
  }
  if (!NorvoWinUtilities::SaveUserDataToRegistry(sealed)) return NorvoUserDataSave_StoreFailed;
  LOG(LS_INFO) << "NorvoUserDataSave::SaveUserData - Done";
  return NorvoUserDataSave_Ok;
}

}  // namespace NorvoUserDataSave
