#include "client-core/NorvoWinUtilities.h"

#include <openssl/rand.h>
#include <tinyxml2.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "messaging/base/logging.h"
#include "platform/autostart.h"
#include "platform/user_data_cipher.h"
#include "platform/user_data_store.h"

namespace NorvoWinUtilities {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string* out) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Like atoi (leading white space, a sign, the leading digits; no digits gives 0), but a value
// beyond the int range saturates instead of being undefined.
int ParseDecimal(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

// The decrypted document for the trace file: on one line, with the refresh token left out.
std::string WithoutRefreshToken(const std::string& document) {
  std::string shown = document;
  for (char& c : shown) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  const std::string open = "<refresh_token>";
  const std::string close = "</refresh_token>";
  size_t start = shown.find(open);
  if (start == std::string::npos) return shown;
  start += open.size();
  size_t end = shown.find(close, start);
  if (end == std::string::npos) end = shown.size();
  shown.replace(start, end - start, "<not shown>");
  return shown;
}

const tinyxml2::XMLElement* Child(const tinyxml2::XMLElement* root, const char* name) {
  return root->FirstChildElement(name);
}

// Copies the element's text into `field`, cut to `capacity`; no text leaves the field unchanged.
void ReadText(const tinyxml2::XMLElement* elem, const char* name, size_t capacity,
              std::string* field, bool secret) {
  const char* text = elem->GetText();
  if (text == nullptr) {
    LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - " << name << ": NOT SET";
    return;
  }
  *field = NorvoGlobalContext::FitText(text, capacity);
  if (field->size() < std::strlen(text)) {
    LOG(LS_WARNING) << "NorvoWinUtilities::ParseUserData - " << name << " of " << std::strlen(text)
                    << " bytes cut to " << field->size() << " to fit its field";
  }
  if (secret) {
    LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - " << name << ": <" << field->size()
                    << " characters, not shown>";
  } else {
    LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - " << name << ": " << *field;
  }
}

// A 0/1 flag: no text gives `empty_value`, anything but 0 or 1 is logged and gives `bad_value`.
int32_t ReadFlag(const tinyxml2::XMLElement* elem, const char* name, const char* label,
                 int32_t empty_value, int32_t bad_value) {
  const char* text = elem->GetText();
  if (text == nullptr) {
    LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - " << name << ": NOT SET";
    return empty_value;
  }
  int value = ParseDecimal(text);
  if (value != 0 && value != 1) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - Corrupted " << label << " flag: " << value;
    return bad_value;
  }
  LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - " << name << ": " << value;
  return value;
}

}  // namespace

std::string utf8_encode(const std::wstring& wstr) {
  std::string out;
  out.reserve(wstr.size());
  for (wchar_t c : wstr) AppendUtf8(static_cast<char32_t>(c), &out);
  return out;
}

std::wstring utf8_decode(const std::string& str) {
  std::wstring out;
  out.reserve(str.size());
  const auto* s = reinterpret_cast<const unsigned char*>(str.data());
  const size_t n = str.size();
  size_t i = 0;
  while (i < n) {
    unsigned char b = s[i];
    size_t len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b < 0x80) {
      out.push_back(static_cast<wchar_t>(b));
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, c = b & 0x07, min = 0x10000;
    }
    bool ok = len != 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
      } else {
        c = (c << 6) | (s[i + k] & 0x3F);
      }
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (ok) {
      out.push_back(static_cast<wchar_t>(c));
      i += len;
    } else {
      out.push_back(kReplacement);
      ++i;
    }
  }
  return out;
}

std::string ws2s(const std::wstring& wstr) { return utf8_encode(wstr); }
std::wstring s2ws(const std::string& str) { return utf8_decode(str); }

bool ConvertCharArrayToLPCWSTR(const char* in, wchar_t* out, size_t out_size) {
  if (out == nullptr || out_size == 0) return false;
  std::wstring wide = utf8_decode(in == nullptr ? std::string() : std::string(in));
  size_t count = std::min(wide.size(), out_size - 1);
  std::wmemcpy(out, wide.data(), count);
  out[count] = L'\0';
  return true;
}

bool replace(std::string& str, const std::string& from, const std::string& to) {
  if (from.empty()) return false;
  size_t pos = str.find(from);
  if (pos == std::string::npos) return false;
  str.replace(pos, from.size(), to);
  return true;
}

_NorvoUserDataLoadResult LoadUserData2(std::string* result) {
  result->clear();
  std::string sealed;
  switch (platform::ReadUserDataFile(&sealed)) {
    case platform::UserDataReadResult::kOk:
      break;
    case platform::UserDataReadResult::kNoFolder:
      LOG(LS_INFO) << "NorvoWinUtilities::LoadUserData2 - Didn't find folder 'NorvoHub' under \""
                   << platform::UserDataFolder() << "\", no data to load";
      return NorvoUserDataLoad_NoKey;
    case platform::UserDataReadResult::kNoFile:
      LOG(LS_WARNING) << "NorvoWinUtilities::LoadUserData2 - 'NorvoHub' doesn't have 'UserData'";
      return NorvoUserDataLoad_NoValue;
    case platform::UserDataReadResult::kNotAFile:
      LOG(LS_ERROR) << "NorvoWinUtilities::LoadUserData2 - \"" << platform::UserDataFilePath()
                    << "\" is not a regular file, ignored";
      return NorvoUserDataLoad_NoValue;
    case platform::UserDataReadResult::kTooLarge:
      LOG(LS_ERROR) << "NorvoWinUtilities::LoadUserData2 - \"" << platform::UserDataFilePath()
                    << "\" is larger than " << platform::kMaxUserDataFileSize
                    << " bytes, not user data; ignored";
      return NorvoUserDataLoad_DecryptFailed;
    case platform::UserDataReadResult::kReadFailed:
      LOG_ERRNO(LS_ERROR) << "NorvoWinUtilities::LoadUserData2 - Failed to read \""
                          << platform::UserDataFilePath() << "\"";
      return NorvoUserDataLoad_NoValue;
  }
  std::string plain;
  platform::UserDataCipher cipher;
  // The size was bounded when the file was read, so holding the text cannot fail here.
  bool decrypted = cipher.Decrypt(sealed, &plain);
  if (!decrypted) {
    LOG(LS_ERROR) << "NorvoWinUtilities::LoadUserData2 - User data decyption failed returned an "
                     "error: "
                  << cipher.error_text() << " (" << sealed.size() << " bytes)";
    return NorvoUserDataLoad_DecryptFailed;
  }
  LOG(LS_VERBOSE) << "NorvoWinUtilities::LoadUserData2 - Decrypted user data: "
                  << WithoutRefreshToken(plain);
  *result = std::move(plain);
  return NorvoUserDataLoad_Ok;
}

bool ParseUserData(const char* data, NorvoGlobalSetting* settings) {
  if (data == nullptr) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - Input is null, do nothing";
    return false;
  }
  if (settings == nullptr) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - No settings record, do nothing";
    return false;
  }
  tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
  tinyxml2::XMLError err = doc.Parse(data);
  if (err != tinyxml2::XML_SUCCESS) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - FATAL ERROR - Cannot parse user data, "
                     "code: "
                  << static_cast<int>(err) << " (" << doc.ErrorStr() << ")";
    return false;
  }
  const tinyxml2::XMLElement* root = doc.FirstChildElement("norvopc");
  if (root == nullptr) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - Could not find root config element.";
    return false;
  }

  struct TextRow {
    const char* element;
    const char* missing;  // nullptr: a missing element is only a warning
    size_t capacity;
    std::string NorvoGlobalSetting::*field;
    bool secret;
  };
  // In the order the rows are processed; a missing required element stops the parse there.
  const TextRow kTextRows[] = {
      {"username", "Could not find userElem.", kNorvoTextFieldSize,
       &NorvoGlobalSetting::accountUserName, false},
      {"refresh_token", nullptr, kNorvoTextFieldSize, &NorvoGlobalSetting::accountRefreshToken,
       true},
      {"dspname", "Could not find dspNameElem.", kNorvoTextFieldSize,
       &NorvoGlobalSetting::accountDisplayName, false},
      {"imgurl", "Could not find imgUrlElem.", kNorvoImgUrlFieldSize,
       &NorvoGlobalSetting::accountImgUrl, false},
      {"hubname", "Could not find hubNameElem.", kNorvoTextFieldSize, &NorvoGlobalSetting::hubName,
       false},
      {"hubid", "Could not find hubIdElem.", kNorvoHubIdFieldSize, &NorvoGlobalSetting::hubId,
       false},
  };
  for (const TextRow& row : kTextRows) {
    const tinyxml2::XMLElement* elem = Child(root, row.element);
    if (elem == nullptr) {
      if (row.missing == nullptr) {
        LOG(LS_WARNING) << "NorvoWinUtilities::ParseUserData - Could not find " << row.element
                        << " element";
        continue;
      }
      LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - " << row.missing;
      return false;
    }
    ReadText(elem, row.element, row.capacity, &(settings->*row.field), row.secret);
  }

  struct FlagRow {
    const char* element;
    const char* label;  // in the "Corrupted ... flag" line
    const char* missing;
    int32_t empty_value;
    int32_t bad_value;
    int32_t NorvoGlobalSetting::*field;
  };
  const FlagRow kFlagRows[] = {
      {"rescanneeded", "rescan", "Could not find rescanElem.", 1, 1,
       &NorvoGlobalSetting::iRescanNeeded},
      {"autologin_sys", "autologin_sys", "Could not find autoElem.", 0, 0,
       &NorvoGlobalSetting::iAutoLoginAtSysStartup},
      {"autologin_app", "autologin_app", "Could not find autoLogInAppElem.", 0, 0,
       &NorvoGlobalSetting::iAutoLoginAtAppStartup},
      {"allow_friend_ac", "allow_friend_ac", "Could not find allowFAcElem.", 0, 0,
       &NorvoGlobalSetting::iAllowFriendAccess},
  };
  for (const FlagRow& row : kFlagRows) {
    const tinyxml2::XMLElement* elem = Child(root, row.element);
    if (elem == nullptr) {
      LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - " << row.missing;
      return false;
    }
    settings->*row.field = ReadFlag(elem, row.element, row.label, row.empty_value, row.bad_value);
  }

  const tinyxml2::XMLElement* max_elem = Child(root, "max_concurrent_str");
  if (max_elem == nullptr) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - Could not find maxConStreamElem.";
    return false;
  }
  if (max_elem->GetText() == nullptr) {
    settings->iMaxConcurrentStreaming = 1;
  } else {
    int value = ParseDecimal(max_elem->GetText());
    if (value < 1 || value > 5) {
      LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - Corrupted max_concurrent_str: " << value
                    << ", use 1";
      value = 1;
    }
    settings->iMaxConcurrentStreaming = value;
  }
  LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - max_concurrent_str: "
                  << settings->iMaxConcurrentStreaming;

  if (!settings->publicFolderList) {
    settings->publicFolderList = std::make_unique<std::list<std::string>>();
  }
  std::list<std::string>& folders = *settings->publicFolderList;
  folders.clear();
  const tinyxml2::XMLElement* folders_elem = Child(root, "publicfolders");
  if (folders_elem == nullptr) {
    LOG(LS_ERROR) << "NorvoWinUtilities::ParseUserData - publicfolder element not found";
    return false;
  }
  const char* text = folders_elem->GetText();
  if (text == nullptr) {
    LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - publicfolder: NOT SET";
    return true;
  }
  // Folders are kept whole whatever their length: a cut path would name another folder.
  std::string_view rest(text);
  while (!rest.empty()) {
    size_t sep = rest.find(kNorvoFolderSeparator);
    std::string_view piece = rest.substr(0, sep);
    if (!piece.empty()) {
      folders.emplace_back(piece);
      LOG(LS_VERBOSE) << "NorvoWinUtilities::ParseUserData - publicfolder: " << folders.back();
    }
    if (sep == std::string_view::npos) break;
    rest.remove_prefix(sep + 1);
  }
  return true;
}

int GenerateUserSettingString2(std::string* result, const NorvoGlobalSetting* settings) {
  result->clear();
  if (settings == nullptr) {
    LOG(LS_ERROR) << "NorvoWinUtilities::GenerateUserSettingString2 - No settings record";
    return 0;
  }
  std::string folders;
  if (settings->publicFolderList) {
    for (const std::string& folder : *settings->publicFolderList) {
      folders += folder;
      folders += kNorvoFolderSeparator;
    }
  }
  tinyxml2::XMLDocument doc(true, tinyxml2::PRESERVE_WHITESPACE);
  tinyxml2::XMLElement* root = doc.NewElement("norvopc");
  doc.InsertEndChild(root);
  auto add = [&doc, root](const char* name, const std::string& value) {
    tinyxml2::XMLElement* elem = doc.NewElement(name);
    // An empty value is an empty element, without a text node.
    if (!value.empty()) elem->SetText(value.c_str());
    root->InsertEndChild(elem);
  };
  add("username", settings->accountUserName);
  add("refresh_token", settings->accountRefreshToken);
  add("hubname", settings->hubName);
  add("dspname", settings->accountDisplayName);
  add("imgurl", settings->accountImgUrl);
  add("hubid", settings->hubId);
  add("rescanneeded", std::to_string(settings->iRescanNeeded));
  add("autologin_sys", std::to_string(settings->iAutoLoginAtSysStartup));
  add("autologin_app", std::to_string(settings->iAutoLoginAtAppStartup));
  add("allow_friend_ac", std::to_string(settings->iAllowFriendAccess));
  add("max_concurrent_str", std::to_string(settings->iMaxConcurrentStreaming));
  add("publicfolders", folders);

  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  if (printer.CStrSize() <= 1) {
    LOG(LS_ERROR) << "NorvoWinUtilities::GenerateUserSettingString2 - Failed to produce the "
                     "document";
    return 0;
  }
  result->assign(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1));
  if (result->size() > static_cast<size_t>(INT_MAX)) {
    LOG(LS_ERROR) << "NorvoWinUtilities::GenerateUserSettingString2 - Document too large: "
                  << result->size();
    result->clear();
    return 0;
  }
  return static_cast<int>(result->size());
}

bool SaveUserDataToRegistry(std::string_view data) {
  if (!platform::WriteUserDataFile(data)) {
    LOG_ERRNO(LS_ERROR) << "NorvoWinUtilities::SaveUserDataToRegistry - Failed to write \""
                        << platform::UserDataFilePath() << "\"; the previous data is kept";
    return false;
  }
  LOG(LS_INFO) << "NorvoWinUtilities::SaveUserDataToRegistry - " << data.size()
               << " bytes written to \"" << platform::UserDataFilePath() << "\"";
  return true;
}

bool EnableAutoStart() {
  LOG(LS_INFO) << "NorvoWinUtilities - EnableAutoStart";
  std::string path = platform::CurrentExecutablePath();
  LOG(LS_INFO) << "NorvoWinUtilities - EnableAutoStart, app path is: " << path;
  if (!platform::WriteAutostartEntry(path)) {
    LOG_ERRNO(LS_ERROR) << "NorvoWinUtilities - EnableAutoStart, cannot write \""
                        << platform::AutostartEntryPath() << "\"";
    return false;
  }
  return true;
}

bool GenUUID(std::string* result) {
  result->clear();
  unsigned char b[16];
  if (RAND_bytes(b, sizeof(b)) != 1) {
    LOG(LS_ERROR) << "NorvoWinUtilities:GenUUID: no random bits available";
    return false;
  }
  unsigned long data1 = (static_cast<unsigned long>(b[0]) << 24) |
                        (static_cast<unsigned long>(b[1]) << 16) |
                        (static_cast<unsigned long>(b[2]) << 8) | b[3];
  unsigned data2 = (static_cast<unsigned>(b[4]) << 8) | b[5];
  unsigned data3 = (static_cast<unsigned>(b[6]) << 8) | b[7];
  char text[64];
  std::snprintf(text, sizeof(text), "%.2lX-%.2X-%.2X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X", data1,
                data2, data3, b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  *result = text;
  LOG(LS_INFO) << "NorvoWinUtilities:GenUUID: " << *result;
  return true;
}

}  // namespace NorvoWinUtilities
