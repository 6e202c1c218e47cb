// Saving the user data: the part of the window's persist operation that needs no window.
//
//   std::string shown;
//   switch (NorvoUserDataSave::SaveUserData(box_text, NorvoGlobalContext::Instance(), &shown)) {
//     case NorvoUserDataSave_Ok: ...                      // put `shown` into the hub-name box
//     case NorvoUserDataSave_NoDocument: ...              // "Memory Error" dialog
//     ...
//   }
#pragma once

#include <string>
#include <string_view>

#include "client-core/NorvoGlobalContext.h"

enum NorvoUserDataSaveResult {
  NorvoUserDataSave_Ok = 0,
  NorvoUserDataSave_NoDocument = 1,     // the document could not be produced
  NorvoUserDataSave_EncryptFailed = 2,  // nothing was written; the previous data is kept
  NorvoUserDataSave_StoreFailed = 3,    // the file could not be written; the previous data is kept
};

namespace NorvoUserDataSave {

// The hub name used when the box is empty: the computer's name (at most 128 characters), or
// "Norvo Music Hub" when it is not available.
std::string DefaultHubName();
// `text` without the white space around it.
std::string TrimWhiteSpace(std::string_view text);

// Creates the hub id once (kept for the life of the installation), takes the hub name from
// `hub_name_text` (trimmed; DefaultHubName() when empty), produces the document, encrypts it and
// stores it atomically. `*hub_name_shown` (may be null) receives the name now in `hubName`, for
// the window's hub-name box.
NorvoUserDataSaveResult SaveUserData(std::string_view hub_name_text, NorvoGlobalSetting* settings,
                                     std::string* hub_name_shown);

}  // namespace NorvoUserDataSave
