// ParseUserData on arbitrary bytes: it must never crash, hang or leave a text longer than its
// field, whatever the document holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoWinUtilities.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool initialised = [] {
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    return true;
  }();
  (void)initialised;
  NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
  // The loader hands out a NUL-terminated text; bytes after an inner NUL are not seen.
  std::string text(reinterpret_cast<const char*>(data), size);
  NorvoWinUtilities::ParseUserData(text.c_str(), s);
  if (s->accountUserName.size() >= kNorvoTextFieldSize ||
      s->accountImgUrl.size() >= kNorvoImgUrlFieldSize || s->hubId.size() >= kNorvoHubIdFieldSize ||
      s->iMaxConcurrentStreaming < 1 || s->iMaxConcurrentStreaming > 5 ||
      (s->iRescanNeeded != 0 && s->iRescanNeeded != 1)) {
    std::abort();
  }
  for (const std::string& folder : *s->publicFolderList) {
    if (folder.empty() || folder.find('\x1c') != std::string::npos) std::abort();
  }
  return 0;
}
