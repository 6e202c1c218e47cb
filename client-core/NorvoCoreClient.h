// The signed-in messaging client of the hub: one instance per sign-in session.
//
// The host creates it with the account name and calls Start, which signs in over XMPP and then
// runs the calling thread's message loop (the client thread) until the session ends. All XMPP
// work, the stanza handlers and the shell's commands run on that thread. Every state change goes
// to the host through NorvoNativeInterface::OnClientStateChanged.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "client-core/NorvoNativeInterface.h"
#include "messaging/sigslot/sigslot.h"
#include "messaging/xmpp/jid.h"
#include "messaging/xmpp/xmppengine.h"

namespace buzz {
class XmppClient;
}  // namespace buzz
namespace talk_base {
class Thread;
}  // namespace talk_base

class NorvoKernelShell;
class NorvoConnectionKeeper;
class NorvoMediaDBManager;
class PresenceOutTask;
namespace norvo {
class NorvoMediaItem;
}  // namespace norvo

namespace norvo {

// One roster map entry: a Norvo device that is online under the account or a friend's.
struct RosterItem {
  buzz::Jid jid;
  int show = 0;
  std::string status;
  std::string device_name;
  std::string version;
  std::string full_name;
  std::string photo;
};

}  // namespace norvo

class NorvoCoreClient : public sigslot::has_slots<> {
 public:
  // The resource every session binds.
  static constexpr const char kResource[] = "norvo.pc";
  // The account name as given to the last constructor, cut to 64 characters; read by stream
  // admission to tell the owner's devices from friends'.
  static std::string OwnerBareJid();

  // `native` is the host's interface (not owned; may be null in tests of the core alone).
  NorvoCoreClient(norvo::NorvoNativeInterface* native, const char* name);
  ~NorvoCoreClient() override;
  NorvoCoreClient(const NorvoCoreClient&) = delete;
  NorvoCoreClient& operator=(const NorvoCoreClient&) = delete;

  // Signs in and runs the session on the calling thread. 0 after a session that ran and ended,
  // -1 when the state machine refused to start, 1 when the name or the password is missing.
  // `pwd` is the password, or for auth_type 2 the OAuth 2 access token.
  int Start(const char* name, const char* pwd, const int auth_type);
  // Any thread. 0 when the sign-out was started, -1 when the state machine refused it.
  int LogOut();
  // Client thread only: ends the session's loop.
  void Quit();

  norvo::_ClientState GetClientState();
  norvo::RosterMap* GetRosterMap() { return &roster_; }
  bool StateTransition(_CoreClientFsmEvent event);

  void SetAllowLocalIps(bool allow) { allow_local_ips_ = allow; }
  // The signalling protocol of new streaming sessions and the media policy, as texts.
  bool SetInitialProtocol(const std::string& protocol);
  bool SetSecurePolicy(const std::string& policy);
  const std::string& initial_protocol() const { return initial_protocol_; }
  const std::string& secure_policy() const { return secure_policy_; }

  // The connection keeper's delays for this session (tests use short ones).
  void SetKeepAliveTiming(int first_ms, int period_ms);

  // The host's entry point for commands (any thread).
  void OnNorvoCommandReceived(int command, const char* parameter);

  void OnXmppClientStateChange(buzz::XmppEngine::State state);
  void OnXmmpSocketClosedEvent(int error);
  void OnRequestSignaling();

  // The log text of an XMPP engine error code.
  static std::string strerror(int error);

  // The hub's own presence: an invisible available presence with the Norvo capabilities.
  void RefreshStatus();

  // Targets of the command shell. The player operations belong to the device build of this
  // client core and do nothing here.
  int PlayInternal(const std::string& jid, const std::string& song_id);
  int PauseInternal();
  int ResumeInternal();
  int SeekInternal(int position);
  void CancelFileShare(const std::string& share_id);
  void AcceptFileShare(const std::string& share_id, const std::string& target_folder,
                       const std::string& target_file_name);
  void DeclineFileShare(const std::string& share_id);

  // Streaming (the stream session client and stream admission fill these in).
  int InitiateMusicStreamDB(const std::string& share_id, const std::string& jid,
                            const std::string& target_uri, const std::string& width,
                            const std::string& height, const std::string& preview_file_path,
                            const std::string& start_pos, const std::string& need_preview,
                            norvo::NorvoMediaItem* target_item);
  int SendFile(const std::string& share_id, const std::string& jid, const std::string& target_uri,
               const std::string& width, const std::string& height,
               const std::string& preview_file_path, const std::string& start_pos,
               const std::string& need_preview);
  void RemoveStreamingNode(const std::string& remote_jid);

  // Roster and presence operations of the host (the stanza tasks fill these in).
  void SendSubscriptionMessage(const std::string& user, int type);
  void InviteFriend(const std::string& user);
  void SendPresence(const std::string& status);
  void SendPresence(const std::string& status, const std::string& signature);
  void SendSignature(const std::string& signature);
  void SendVCardRequest(const std::string& to);

  // (code, jid, other): NorvoEvent_FileAccess_Denied from the library lookup.
  sigslot::signal3<int, const char*, const char*> SignalNorvoEvent;
  sigslot::signal1<_NorvoRosterSubscriptionMsg*> SignalSubscriptionMsg;

  // The session's XMPP client; null outside Start. Client thread only.
  buzz::XmppClient* xmpp_client() { return xmpp_client_; }
  // The session's command shell; null before Start has created it. Any thread.
  NorvoKernelShell* Shell();

 private:
  // Opens and checks the library database (constructor step).
  void OpenMediaLibrary();
  void Report(norvo::_ClientEvent event, norvo::_ClientState state);
  void InitPhone();
  void InitPresence();
  void StartConnectionKeeper();

  norvo::NorvoNativeInterface* native_;
  // Read by the host's thread (GetClientState, LogOut) and written by the client thread; also
  // guards the creation of shell_.
  std::mutex state_mutex_;
  norvo::_ClientState state_ = norvo::CLIENT_STATE_OFFLINE;

  buzz::XmppClient* xmpp_client_ = nullptr;
  talk_base::Thread* main_thread_ = nullptr;
  std::unique_ptr<talk_base::Thread> worker_thread_;
  std::unique_ptr<NorvoConnectionKeeper> connection_keeper_;
  int keep_alive_first_ms_ = 50000;
  int keep_alive_period_ms_ = 100000;
  PresenceOutTask* presence_out_ = nullptr;  // owned by the XMPP client's task runner

  norvo::RosterMap roster_;
  std::map<std::string, std::string> remote_node_serving_map_;

  bool allow_local_ips_ = true;
  std::string initial_protocol_ = "hybrid";
  std::string secure_policy_ = "disable";
  bool connection_failed_ = false;

  std::unique_ptr<NorvoKernelShell> shell_;
  std::unique_ptr<NorvoMediaDBManager> media_db_;
};
