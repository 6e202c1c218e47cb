// Free helpers of the hub: text conversions, the stored user data (load, parse, produce, store),
// the start-at-log-on entry and the hub identifier.
//
//   std::string text;
//   if (NorvoWinUtilities::LoadUserData2(&text) == NorvoUserDataLoad_Ok)
//     NorvoWinUtilities::ParseUserData(text.c_str(), NorvoGlobalContext::Instance());
//
// Narrow text is UTF-8 on this system, so the "ANSI" conversions (ws2s, s2ws) are the UTF-8 ones.
// Other areas add their own helpers to the namespace in headers of their own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "client-core/NorvoGlobalContext.h"

enum _NorvoUserDataLoadResult {
  NorvoUserDataLoad_Ok = 1,             // read and decrypted
  NorvoUserDataLoad_NoKey = 2,          // no "NorvoHub" folder: first run
  NorvoUserDataLoad_NoValue = 3,        // the folder without a readable "UserData" file
  NorvoUserDataLoad_NoMemory = 4,       // kept for callers; the bounded read never needs it
  NorvoUserDataLoad_DecryptFailed = 5,  // too short, changed, corrupt or too large; never parsed
};

// The byte that ends every folder in the stored folder list (ASCII file separator).
constexpr char kNorvoFolderSeparator = '\x1c';

namespace NorvoWinUtilities {

// Wide (UTF-32 on this system) <-> UTF-8. Invalid input becomes U+FFFD, never an error.
std::string utf8_encode(const std::wstring& wstr);
std::wstring utf8_decode(const std::string& str);
std::string ws2s(const std::wstring& wstr);
std::wstring s2ws(const std::string& str);
// `in` into `out`, which holds `out_size` wide characters (terminator included); a longer text is
// cut to fit. False when `out` is null or has no room.
bool ConvertCharArrayToLPCWSTR(const char* in, wchar_t* out, size_t out_size);
// Replaces the first occurrence of `from` (not empty) in `str` by `to`; false when there is none.
bool replace(std::string& str, const std::string& from, const std::string& to);

// Reads and decrypts the stored document into `result` (cleared unless the result is Ok).
_NorvoUserDataLoadResult LoadUserData2(std::string* result);
// Fills `settings` from the document. False when the document is missing, unparsable or stops
// before its end; the fields read before that keep their new values. Texts longer than their
// field are cut at a UTF-8 character boundary.
bool ParseUserData(const char* data, NorvoGlobalSetting* settings);
// The stored document for `settings` (elements one per line, four spaces of indentation).
// Returns its length (also `result->size()`), or 0 when there is nothing to produce.
int GenerateUserSettingString2(std::string* result, const NorvoGlobalSetting* settings);
// Stores the encrypted bytes, replacing the previous file atomically. False when they could not
// be stored; the previous file is then unchanged.
bool SaveUserDataToRegistry(std::string_view data);
// Writes the start-at-log-on entry for this executable with the argument "auto".
bool EnableAutoStart();
// A new hub identifier from 128 random bits, "%.2X-%.2X-%.2X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X"
// over a 32-bit field, two 16-bit fields and eight bytes. False when no random bits are available.
bool GenUUID(std::string* result);

}  // namespace NorvoWinUtilities
