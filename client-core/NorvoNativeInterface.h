// The boundary between the client core and its host.
//
// The core client never talks to the window: the host commands the client through the command
// operations of NorvoNativeInterface (sign in, sign out, presence, transfers), and the core
// reports back through its notification operations (state changes, hub messages, roster,
// transfers). This header is also the one home of the enumerations that the client, the host
// and the monitor threads exchange.
#pragma once

#include <map>
#include <string>

#include "messaging/sigslot/sigslot.h"

namespace buzz {
class Jid;
class Status;
class XmlElement;
}  // namespace buzz

namespace cricket {
class CallOptions;
}  // namespace cricket

namespace norvo {
struct RosterItem;
}  // namespace norvo

// A device streaming now (defined with stream admission).
struct _NorvoStreamingDevice;

namespace norvo {

// State of the signed-in client.
enum _ClientState {
  CLIENT_STATE_OFFLINE = 0,
  CLIENT_STATE_CONNECTING = 1,
  CLIENT_STATE_ONLINE = 2,
  CLIENT_STATE_DISCONNECTING = 3,
};

// What caused a state report.
enum _ClientEvent {
  CLIENT_EVENT_LOGGING_IN = 190,
  CLIENT_EVENT_LOGGING_OUT = 191,
  CLIENT_EVENT_LOGIN_OK = 200,
  CLIENT_EVENT_LOGOUT_OK = 201,
  CLIENT_EVENT_OPERATION_TIMEOUT = 400,
  CLIENT_EVENT_AUTH_MISSING_PARAM = 500,
  CLIENT_EVENT_AUTH_ERR = 501,
  CLIENT_EVENT_NETWORK_ERR = 502,
  CLIENT_EVENT_SYSTEM_ERR = 503,
  CLIENT_EVENT_NONE = 504,
};

// The player role's types; the hub never produces or consumes a value of either.
enum _Norvo_NetworkPlayerEvent {
  NETWORK_PLAYER_EVENT_NONE = 0,
};
enum _Norvo_NetworkPlayerState {
  NETWORK_PLAYER_STATE_NONE = 0,
};

// Log names of the two tables above ("OFFLINE", "LOGIN_OK", ...); null for a value outside them.
const char* ClientStateName(int state);
const char* ClientEventName(int event);

}  // namespace norvo

// Events that the client thread delivers to the user interface.
enum NorvoEvent {
  NorvoEvent_Client_SignedIn = 100,
  NorvoEvent_Client_SignedOut = 101,
  NorvoEvent_Client_AuthFailed = 102,
  NorvoEvent_Client_BackOnLine = 103,
  NorvoEvent_Client_Destroyed = 104,
  NorvoEvent_FileAccess_Denied = 200,
  NorvoEvent_Connection_Started = 300,
  NorvoEvent_Connection_Failed = 301,
  NorvoEvent_Connection_FailedWithAutoReconnect = 302,
  NorvoEvent_None = 303,
};

// Inputs of the core client's state machine.
enum _CoreClientFsmEvent {
  FsmEvent_Start = 0,
  FsmEvent_LoggedIn = 1,
  FsmEvent_LogOut = 2,
  FsmEvent_LoggedOut = 3,
  FsmEvent_AuthFailed = 4,
  FsmEvent_ConnectionFailed = 5,
  FsmEvent_SysErr = 6,
};

// Kind of a typed presence stanza; 1 to 4 also select the type of a subscription message.
enum _NorvoRosterSubscriptionType {
  ROSTER_SUB_UNKNOWN = -1,
  ROSTER_SUB_UNAVAILABLE = 0,
  ROSTER_SUB_SUBSCRIBE = 1,
  ROSTER_SUB_UNSUBSCRIBE = 2,
  ROSTER_SUB_SUBSCRIBED = 3,
  ROSTER_SUB_UNSUBSCRIBED = 4,
};

// What a new transfer session carries.
enum NorvoStreamType {
  NorvoStreamType_File = 0,
  NorvoStreamType_Music = 1,
};

// State of the network availability monitor. 4 has no name; every value above 4 means stopped.
enum NorvoNetworkMonitorState {
  NorvoNetworkMonitorState_Offline = 0,
  NorvoNetworkMonitorState_Online = 1,
  NorvoNetworkMonitorState_SignedIn = 2,
  NorvoNetworkMonitorState_WaitingForSignOut = 3,
  NorvoNetworkMonitorState_Stopped = 5,
};

// Passed to the host for every typed presence. Built zero-filled on the handler's stack; a
// receiver copies what it needs before returning.
struct _NorvoRosterSubscriptionMsg {
  int type;      // a _NorvoRosterSubscriptionType
  char jid[68];  // the stanza's "from" as received, cut to 67 characters
};

// Given to CreateInstance; the desktop implementation ignores it.
struct InitData_;

namespace NorvoCommon {
// Writes the log name of `e` at verbose level; a value outside the NorvoEvent table ends the
// process (only a programming error produces one).
void LogNorvoEvent(NorvoEvent e);
// The text LogNorvoEvent writes for `e` ("NorvoEvent_SignedIn", ...); null outside the table.
const char* NorvoEventName(int e);
}  // namespace NorvoCommon

namespace norvo {

using RosterMap = std::map<std::string, RosterItem>;

class NorvoNativeInterface : public sigslot::has_slots<> {
 public:
  // A new desktop client (the only implementation), or null when memory runs out.
  static NorvoNativeInterface* CreateInstance(InitData_* init_data);
  // "Current client state is ..." at info level, or "Unknown client state: N" at error level.
  static void LogClientState(int state);
  // The same for client events.
  static void LogClientEvent(int event);

  // Slot 0 onwards, in the interface's slot order.
  ~NorvoNativeInterface() override = default;
  virtual void lock() = 0;
  virtual void unlock() = 0;

  // host -> client
  virtual int Start(const char* name, const char* pwd, const int auth_type) = 0;
  virtual int LogOut() = 0;
  virtual _ClientState GetClientState() = 0;
  // client -> host
  virtual void OnClientStateChanged(_ClientEvent event, _ClientState state) = 0;
  virtual int SendNHubMessage(const std::string& to, const std::string& type,
                              const std::string& message) = 0;
  virtual int SendNHubPlayRequest(const std::string& to, const std::string& type,
                                  const std::string& message, const std::string& uri) = 0;
  virtual void OnNHubGetMessageReceived(const buzz::Jid& from, const std::string& message) = 0;
  virtual void OnNHubResultMessageReceived(const buzz::Jid& from, const std::string& message) = 0;
  virtual void OnRosterStatusUpdate(const buzz::Status& status) = 0;
  virtual void OnRosterReceived(const buzz::XmlElement* stanza) = 0;
  virtual void OnRosterSubRespReceived(_NorvoRosterSubscriptionMsg* msg) = 0;
  virtual void SendSubscriptionMessage(const std::string& to, int type) = 0;
  virtual void AddBuddy(const std::string& jid) = 0;
  virtual void SendPresence(const std::string& status) = 0;
  virtual void SendPresence(const std::string& status, const std::string& signature) = 0;
  virtual void SendSignature(const std::string& sig) = 0;
  virtual RosterMap* GetRosterMap() = 0;
  virtual void SendVCardRequest(const std::string& to) = 0;
  virtual void OnRosterVCardReceived(const std::string& jid, const std::string& fn,
                                     const std::string& img_b64) = 0;
  virtual _Norvo_NetworkPlayerState GetNetworkPlayerState() = 0;
  virtual void OnNetworkPlayerStateChanged(_Norvo_NetworkPlayerEvent event,
                                           _Norvo_NetworkPlayerState state) = 0;
  virtual void OnStreamPlayerStateChanged(const std::string& share_id, int state) = 0;
  virtual bool IsMusicStreaming() = 0;
  virtual int GetCurrentPlayingProgress() = 0;
  virtual void AcceptFileShare(const std::string& share_id, const std::string& target_folder,
                               const std::string& target_file_name) = 0;
  virtual void DeclineFileShare(const std::string& share_id) = 0;
  virtual void CancelFileShare(const std::string& share_id) = 0;
  virtual void TestSendFile() = 0;
  virtual int Play(const std::string& jid, const std::string& song_uuid) = 0;
  virtual int Pause() = 0;
  virtual int Resume() = 0;
  virtual int Seek(const int position) = 0;
  virtual void OnFileShareRequestReceived(const std::string& share_id, const buzz::Jid& target,
                                          int type, const std::string& fileName, int size,
                                          bool needPreview) = 0;
  virtual void OnFileShareProgressUpdated(const std::string& share_id, int percent) = 0;
  virtual void OnMusicStreamingProgressUpdated(const std::string& share_id, int progress) = 0;
  virtual int GetCurrentMusicStreamingProgress(const std::string& share_id) = 0;
  virtual void OnFileSharePreviewReceived(const std::string& share_id, const std::string& path,
                                          int w, int h) = 0;
  virtual void OnFileShareStateChanged(const std::string& remote_jid, const std::string& share_id,
                                       int state) = 0;
  virtual cricket::CallOptions* GetCurrentCallOption() = 0;
  virtual buzz::Jid GetCurrentJidInCall() = 0;
  virtual void OnFileSystemChanged() = 0;
  virtual void OnRemoteDeviceActivity(_NorvoStreamingDevice* device) = 0;
  virtual void TestMusicStreaming() = 0;
  virtual void StopStreamPlayer(const std::string& pos) = 0;
  virtual void ResumeStreamPlayer(const std::string& pos) = 0;

  // Raised by the notification operations towards the host.
  sigslot::signal1<NorvoEvent> SignalNorvoEvent;
  sigslot::signal1<_NorvoStreamingDevice*> SignalRemoteDeviceActivity;
  sigslot::signal3<const std::string&, const std::string&, const std::string&>
      SignalRosterVCardReceived;
  sigslot::signal1<_NorvoRosterSubscriptionMsg*> SignalRosterSubscriptionMsg;
};

}  // namespace norvo
