#include "client-core/NorvoGlobalContext.h"

#include <algorithm>
#include <cstring>

#include "client-core/NorvoLogger.h"
#include "client-core/NorvoThreadUtil.h"
#include "messaging/base/logging.h"

namespace NorvoGlobalContext {

namespace {

std::unique_ptr<NorvoGlobalSetting>& Record() {
  static std::unique_ptr<NorvoGlobalSetting> record;
  return record;
}

JMutex& ContextMutex() {
  static JMutex mutex;
  return mutex;
}

const char* TextOf(const std::string NorvoGlobalSetting::*field) {
  const NorvoGlobalSetting* s = Record().get();
  return s == nullptr ? "" : (s->*field).c_str();
}

void CopyOut(const std::string NorvoGlobalSetting::*field, char* out) {
  if (out == nullptr) return;
  std::string text = FitText(TextOf(field), kNorvoTextFieldSize);
  std::memcpy(out, text.c_str(), text.size() + 1);
}

// A credential never goes to the trace file in clear; its presence and length are enough to
// tell a linked account from a broken one.
std::string MaskedSecret(const std::string& secret) {
  if (secret.empty()) return "";
  return "<" + std::to_string(secret.size()) + " characters, not shown>";
}

}  // namespace

std::string FitText(std::string_view text, size_t capacity) {
  if (capacity == 0) return std::string();
  size_t limit = capacity - 1;
  if (text.size() <= limit) return std::string(text);
  size_t cut = limit;
  // Step back over continuation bytes so the cut falls before a character's lead byte.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return std::string(text.substr(0, cut));
}

void Init(NorvoAppRole role) {
  NorvoLogger::Info("NorvoGlobalContext::Init");
  NorvoThreadUtil::InitMutex(&ContextMutex());

  std::unique_ptr<NorvoGlobalSetting>& record = Record();
  if (record) {
    *record = NorvoGlobalSetting();
  } else {
    record = std::make_unique<NorvoGlobalSetting>();
  }
  NorvoGlobalSetting* s = record.get();
  s->bShareImgPreviewEnbaled = 1;
  s->imgPreviewWidth = 310;
  s->imgPreviewHeight = 240;
  s->appRole = role;
  s->iMaxConcurrentStreaming = 1;

  if (role == NorvoAppRole_Hub) {
    NorvoLogger::Info("NorvoGlobalContext::Init - Role is HUB");
    s->publicFolderList = std::make_unique<std::list<std::string>>();
    s->iRescanNeeded = 1;
    s->iAutoLoginAtSysStartup = 1;
    s->iAutoLoginAtAppStartup = 0;
    s->iMediaStreamFileMaxSizeBytes = NORVO_MAX_MUSIC_FILE_SIZE_MB * 1024 * 1024;
    s->iMediaStreamFileMinDuration = NORVO_MIN_MUSIC_DURATION_SEC;
    NorvoLogger::Info("NorvoGlobalContext::Init - NORVO_BUFFER_WINDOW: %d", NORVO_BUFFER_WINDOW);
    NorvoLogger::Info("NorvoGlobalContext::Init - NORVO_BUFWIN_THRESHOLD_SEC: %d",
                      NORVO_BUFWIN_THRESHOLD_SEC);
    NorvoLogger::Info("NorvoGlobalContext::Init - NORVO_MAX_MUSIC_FILE_SIZE_MB: %d",
                      NORVO_MAX_MUSIC_FILE_SIZE_MB);
    NorvoLogger::Info("NorvoGlobalContext::Init - NORVO_MIN_MUSIC_DURATION_SEC: %d",
                      NORVO_MIN_MUSIC_DURATION_SEC);
    NorvoLogger::Info("NorvoGlobalContext::Init - NORVO_TIMEOUT_WAIT_SESSION_RELEASED: %d",
                      NORVO_TIMEOUT_WAIT_SESSION_RELEASED);
    NorvoLogger::Info("NorvoGlobalContext::Init - NORVO_SESSION_MGR_TIMEOUT: %d",
                      NORVO_SESSION_MGR_TIMEOUT);
  }
  NorvoLogger::Info("NorvoGlobalContext::Done");
}

NorvoGlobalSetting* Instance() { return Record().get(); }

NorvoAppRole GetAppRole() {
  const NorvoGlobalSetting* s = Instance();
  return s == nullptr ? NorvoAppRole_Hub : s->appRole;
}

int GetPreviewImgWidth() { return Instance() == nullptr ? 0 : Instance()->imgPreviewWidth; }
int GetPreviewImgHeight() { return Instance() == nullptr ? 0 : Instance()->imgPreviewHeight; }
bool IsImgPreviewEnabled() {
  return Instance() != nullptr && Instance()->bShareImgPreviewEnbaled != 0;
}

int GetLastAvailableAudioChunkFileIdx() {
  if (Instance() == nullptr) return 0;
  NorvoThreadUtil::MutexLock(&ContextMutex());
  int idx = Instance()->lastAvailableAudioChunkFileIdx;
  NorvoThreadUtil::MutexUnlock(&ContextMutex());
  return idx;
}

bool IsStopPlayStarted() {
  if (Instance() == nullptr) return false;
  NorvoThreadUtil::MutexLock(&ContextMutex());
  bool started = Instance()->bStopPlayStarted;
  NorvoThreadUtil::MutexUnlock(&ContextMutex());
  return started;
}

void GetDeviceName(char* out) { CopyOut(&NorvoGlobalSetting::deviceName, out); }
void GetAppVersion(char* out) { CopyOut(&NorvoGlobalSetting::appVersion, out); }
void GetCurrentMusicUri(char* out) {
  LOG(LS_VERBOSE) << "NorvoGlobalContext::GetCurrentMusicUri";
  CopyOut(&NorvoGlobalSetting::currentMusicUri, out);
}

const char* GetCurrentServerNodeJid() {
  LOG(LS_VERBOSE) << "NorvoGlobalContext::GetCurrentServerNodeJid";
  return TextOf(&NorvoGlobalSetting::currentServerNodeJid);
}
const char* GetHubName() {
  LOG(LS_VERBOSE) << "NorvoGlobalContext::GetHubName";
  return TextOf(&NorvoGlobalSetting::hubName);
}
const char* GetHubId() {
  LOG(LS_VERBOSE) << "NorvoGlobalContext::GetHubId";
  return TextOf(&NorvoGlobalSetting::hubId);
}
const char* GetAccountUserName() { return TextOf(&NorvoGlobalSetting::accountUserName); }
const char* GetAccountDisplayName() { return TextOf(&NorvoGlobalSetting::accountDisplayName); }
const char* GetAccountImgUrl() { return TextOf(&NorvoGlobalSetting::accountImgUrl); }
const char* GetAppUserDataDir() { return TextOf(&NorvoGlobalSetting::appUserDataDir); }

void SetAppUserDataDir(const char* dir) {
  if (Instance() == nullptr) return;
  Instance()->appUserDataDir = dir == nullptr ? "" : dir;
}

bool IsAccountLinked() { return Instance() != nullptr && Instance()->bAccountLinked; }
void SetAccountLinked(bool linked) {
  if (Instance() != nullptr) Instance()->bAccountLinked = linked;
}

bool GetAutoLoginAtAppStartup() {
  return Instance() != nullptr && Instance()->iAutoLoginAtAppStartup != 0;
}
void SetAutoLoginAtAppStartup(bool on) {
  if (Instance() != nullptr) Instance()->iAutoLoginAtAppStartup = on ? 1 : 0;
}
bool GetAutoLoginAtSysStartup() {
  return Instance() != nullptr && Instance()->iAutoLoginAtSysStartup != 0;
}
void SetAutoLoginAtSysStartup(bool on) {
  if (Instance() != nullptr) Instance()->iAutoLoginAtSysStartup = on ? 1 : 0;
}
bool GetAllowFriendAccess() { return Instance() != nullptr && Instance()->iAllowFriendAccess != 0; }
void SetAllowFriendAccess(bool on) {
  if (Instance() != nullptr) Instance()->iAllowFriendAccess = on ? 1 : 0;
}
int GetMaxConcurrentStreaming() {
  return Instance() == nullptr ? 0 : Instance()->iMaxConcurrentStreaming;
}
void SetMaxConcurrentStreaming(int count) {
  if (Instance() != nullptr) Instance()->iMaxConcurrentStreaming = count;
}
void SetRescanNeeded(bool needed) {
  if (Instance() != nullptr) Instance()->iRescanNeeded = needed ? 1 : 0;
}

void AddPublicFolderLocation(const std::string& loc) {
  LOG(LS_INFO) << "NorvoGlobalContext:AddPublicFolderLocation: " << loc;
  NorvoGlobalSetting* s = Instance();
  if (s == nullptr || !s->publicFolderList) {
    LOG(LS_ERROR) << "NorvoGlobalContext:AddPublicFolderLocation: no folder list, ignored";
    return;
  }
  s->publicFolderList->push_back(loc);
  s->iRescanNeeded = 1;
}

void RemovePublicFolderLocation(const std::string& loc) {
  LOG(LS_INFO) << "NorvoGlobalContext:RemovePublicFolderLocation: " << loc;
  NorvoGlobalSetting* s = Instance();
  if (s == nullptr || !s->publicFolderList) {
    LOG(LS_ERROR) << "NorvoGlobalContext:RemovePublicFolderLocation: no folder list, ignored";
    return;
  }
  std::list<std::string>& folders = *s->publicFolderList;
  auto it = std::find(folders.begin(), folders.end(), loc);
  if (it != folders.end()) {
    LOG(LS_INFO) << "NorvoGlobalContext:Folder located in the list, remove it now.";
    folders.erase(it);
  }
  s->iRescanNeeded = 1;
  LOG(LS_INFO) << "NorvoGlobalContext:RemovePublicFolderLocation:Current share folder list size: "
               << folders.size();
}

void LogConfigData() {
  const NorvoGlobalSetting* s = Instance();
  if (s == nullptr) {
    LOG(LS_ERROR) << "NorvoGlobalContext::LogConfigData: no settings record";
    return;
  }
#define NORVO_CONFIG_LINE(label, value) \
  LOG(LS_INFO) << "NorvoGlobalContext::LogConfigData: " << label << (value)
  NORVO_CONFIG_LINE("NORVO_BUFFER_WINDOW = ", NORVO_BUFFER_WINDOW);
  NORVO_CONFIG_LINE("NORVO_BUFWIN_THRESHOLD_SEC = ", NORVO_BUFWIN_THRESHOLD_SEC);
  NORVO_CONFIG_LINE("NORVO_MAX_MUSIC_FILE_SIZE_MB = ", NORVO_MAX_MUSIC_FILE_SIZE_MB);
  NORVO_CONFIG_LINE("NORVO_MIN_MUSIC_DURATION_SEC = ", NORVO_MIN_MUSIC_DURATION_SEC);
  NORVO_CONFIG_LINE("NORVO_TIMEOUT_WAIT_SESSION_RELEASED = ", NORVO_TIMEOUT_WAIT_SESSION_RELEASED);
  NORVO_CONFIG_LINE("NORVO_SESSION_MGR_TIMEOUT = ", NORVO_SESSION_MGR_TIMEOUT);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->imgPreviewWidth = ", s->imgPreviewWidth);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->imgPreviewHeight = ", s->imgPreviewHeight);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->appRole = ", static_cast<int>(s->appRole));
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->iMaxConcurrentStreaming = ", s->iMaxConcurrentStreaming);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->bShareImgPreviewEnbaled = ", s->bShareImgPreviewEnbaled);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->iRescanNeeded = ", s->iRescanNeeded);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->iAutoLoginAtSysStartup = ", s->iAutoLoginAtSysStartup);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->iAutoLoginAtAppStartup = ", s->iAutoLoginAtAppStartup);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->iMediaStreamFileMaxSizeBytes = ",
                    s->iMediaStreamFileMaxSizeBytes);
  NORVO_CONFIG_LINE("pNorvoGlobalSetting->iMediaStreamFileMinDuration = ",
                    s->iMediaStreamFileMinDuration);
  NORVO_CONFIG_LINE("appUserDataDir: ", s->appUserDataDir);
  NORVO_CONFIG_LINE("accountUserName: ", s->accountUserName);
  NORVO_CONFIG_LINE("accountDisplayName: ", s->accountDisplayName);
  NORVO_CONFIG_LINE("accountImgUrl: ", s->accountImgUrl);
  NORVO_CONFIG_LINE("accountRefreshToken: ", MaskedSecret(s->accountRefreshToken));
  NORVO_CONFIG_LINE("hubName: ", s->hubName);
  NORVO_CONFIG_LINE("hubID: ", s->hubId);
  NORVO_CONFIG_LINE("number of public folders: ",
                    s->publicFolderList ? s->publicFolderList->size() : 0);
  NORVO_CONFIG_LINE("re-scan needed: ", s->iRescanNeeded);
  NORVO_CONFIG_LINE("auto login at app startup: ", s->iAutoLoginAtAppStartup);
  NORVO_CONFIG_LINE("auto login at system startup: ", s->iAutoLoginAtSysStartup);
  NORVO_CONFIG_LINE("maximum concurrent streaming: ", s->iMaxConcurrentStreaming);
  NORVO_CONFIG_LINE("allow friend access: ", s->iAllowFriendAccess);
#undef NORVO_CONFIG_LINE
}

}  // namespace NorvoGlobalContext
