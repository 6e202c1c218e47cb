// The process-wide settings record of the hub and the free functions around it.
//
//   NorvoGlobalContext::Init(NorvoAppRole_Hub);           // once, at start-up
//   NorvoGlobalSetting* s = NorvoGlobalContext::Instance();
//   s->hubName = NorvoGlobalContext::FitText(name, kNorvoTextFieldSize);
//   for (const std::string& folder : *s->publicFolderList) ...
//
// The record lives until the process ends. Plain field reads and writes take no lock (the window
// thread writes, the client, scanner and streaming threads read); only the two fields a local
// player shares across threads are read under the context mutex.
//
// Text fields are std::string, but each has the capacity it always had (terminator included);
// whoever stores a text that may be longer cuts it with FitText so that the getters which copy
// into a caller's buffer stay within it. The user data folder is the exception: a cut path would
// name another folder, so it is kept whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>

// Compile-time tunables.
constexpr int NORVO_BUFFER_WINDOW = 8;
constexpr int NORVO_BUFWIN_THRESHOLD_SEC = 30;
constexpr int NORVO_MAX_MUSIC_FILE_SIZE_MB = 20;
constexpr int NORVO_MIN_MUSIC_DURATION_SEC = 5;
constexpr int NORVO_TIMEOUT_WAIT_SESSION_RELEASED = 15;
constexpr int NORVO_SESSION_MGR_TIMEOUT = 20;

// Capacities of the text fields, terminator included.
constexpr size_t kNorvoTextFieldSize = 130;
constexpr size_t kNorvoImgUrlFieldSize = 513;
constexpr size_t kNorvoHubIdFieldSize = 37;

// Only the hub role is used by this program; any other value is a non-hub role.
enum NorvoAppRole {
  NorvoAppRole_Hub = 1,
};

struct NorvoGlobalSetting {
  int32_t imgPreviewWidth = 0;
  int32_t imgPreviewHeight = 0;
  int32_t bShareImgPreviewEnbaled = 0;
  NorvoAppRole appRole = NorvoAppRole_Hub;
  int32_t lastAvailableAudioChunkFileIdx = 0;  // read under the context mutex
  std::string deviceName;                      // kNorvoTextFieldSize
  std::string appVersion;                      // kNorvoTextFieldSize
  std::string accountUserName;                 // kNorvoTextFieldSize, persisted
  std::string accountDisplayName;              // kNorvoTextFieldSize, persisted
  std::string accountImgUrl;                   // kNorvoImgUrlFieldSize, persisted
  std::string accountRefreshToken;             // kNorvoTextFieldSize, persisted (encrypted)
  std::string accountAccessToken;              // kNorvoTextFieldSize, never persisted
  bool bAccountLinked = false;
  std::string appUserDataDir;  // ends in "/"; never cut
  std::string hubName;         // kNorvoTextFieldSize, persisted
  std::string hubId;           // kNorvoHubIdFieldSize, persisted
  int32_t iRescanNeeded = 0;
  int32_t iAutoLoginAtAppStartup = 0;
  int32_t iAutoLoginAtSysStartup = 0;
  int32_t iAllowFriendAccess = 0;
  int32_t iMaxConcurrentStreaming = 0;  // 1 to 5
  int32_t iMediaStreamFileMaxSizeBytes = 0;
  int32_t iMediaStreamFileMinDuration = 0;
  // The shared folders in the order added; null for a non-hub role.
  std::unique_ptr<std::list<std::string>> publicFolderList;
  std::string currentMusicUri;       // kNorvoTextFieldSize
  std::string currentServerNodeJid;  // kNorvoTextFieldSize
  bool bStopPlayStarted = false;     // read under the context mutex
};

namespace NorvoGlobalContext {

// Creates the record with its defaults (a second call resets the same record, so pointers taken
// from Instance stay valid).
void Init(NorvoAppRole role);
// The record; null before Init.
NorvoGlobalSetting* Instance();

NorvoAppRole GetAppRole();
int GetPreviewImgWidth();
int GetPreviewImgHeight();
bool IsImgPreviewEnabled();
int GetLastAvailableAudioChunkFileIdx();
bool IsStopPlayStarted();

// Copy the field, terminator included, into `out`, which must hold kNorvoTextFieldSize bytes.
void GetDeviceName(char* out);
void GetAppVersion(char* out);
void GetCurrentMusicUri(char* out);

const char* GetCurrentServerNodeJid();
const char* GetHubName();
const char* GetHubId();
const char* GetAccountUserName();
const char* GetAccountDisplayName();
const char* GetAccountImgUrl();
// "" before Init or before the folder is known.
const char* GetAppUserDataDir();
void SetAppUserDataDir(const char* dir);

bool IsAccountLinked();
void SetAccountLinked(bool linked);
bool GetAutoLoginAtAppStartup();
void SetAutoLoginAtAppStartup(bool on);
bool GetAutoLoginAtSysStartup();
void SetAutoLoginAtSysStartup(bool on);
bool GetAllowFriendAccess();
void SetAllowFriendAccess(bool on);
int GetMaxConcurrentStreaming();
void SetMaxConcurrentStreaming(int count);  // unchecked; the window limits it to 1 to 5
void SetRescanNeeded(bool needed);

// Appends (duplicates kept) and marks a rescan as needed.
void AddPublicFolderLocation(const std::string& loc);
// Removes the first entry equal to `loc` (byte comparison); marks a rescan as needed either way.
void RemovePublicFolderLocation(const std::string& loc);

// Writes the tunables and the whole configuration to the log at info level.
void LogConfigData();

// `text` cut to at most capacity - 1 bytes without splitting a UTF-8 character.
std::string FitText(std::string_view text, size_t capacity);

}  // namespace NorvoGlobalContext
