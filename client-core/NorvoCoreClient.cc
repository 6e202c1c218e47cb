#include "client-core/NorvoCoreClient.h"

#include <cstring>

#include "client-core/DebugLog.h"
#include "client-core/NorvoConnectionKeeper.h"
#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoKernelShell.h"
#include "client-core/NorvoLogger.h"
#include "client-core/NorvoMediaDBManager.h"
#include "login/xmppauth.h"
#include "login/xmppconfig.h"
#include "login/xmpppump.h"
#include "login/xmppsocket.h"
#include "messaging/base/helpers.h"
#include "messaging/base/logging.h"
#include "messaging/base/thread.h"
#include "messaging/xmpp/constants.h"
#include "messaging/xmpp/xmppclient.h"
#include "messaging/xmpp/xmppclientsettings.h"

namespace {

// The owner's bare JID: 64 characters at most, read by stream admission on the client thread.
std::mutex g_owner_mutex;
std::string g_owner_bare_jid;
constexpr size_t kOwnerBareJidChars = 64;

const char* FsmEventName(int event) {
  switch (event) {
    case FsmEvent_Start:
      return "FsmEvent_Start";
    case FsmEvent_LoggedIn:
      return "FsmEvent_LoggedIn";
    case FsmEvent_LogOut:
      return "FsmEvent_LogOut";
    case FsmEvent_LoggedOut:
      return "FsmEvent_LoggedOut";
    case FsmEvent_AuthFailed:
      return "FsmEvent_AuthFailed";
    case FsmEvent_ConnectionFailed:
      return "FsmEvent_ConnectionFailed";
    case FsmEvent_SysErr:
      return "FsmEvent_SysErr";
  }
  return "FsmEvent_Unknown";
}

const char* StateName(int state) {
  const char* name = norvo::ClientStateName(state);
  return name ? name : "UNKNOWN";
}

}  // namespace

std::string NorvoCoreClient::OwnerBareJid() {
  std::lock_guard<std::mutex> lock(g_owner_mutex);
  return g_owner_bare_jid;
}

NorvoCoreClient::NorvoCoreClient(norvo::NorvoNativeInterface* native, const char* name)
    : native_(native) {
  LOG(LS_INFO) << "NorvoCoreClient - constructor, initializing ...";
  // Only the hub serves a library; a device build of this client has none to open.
  if (NorvoGlobalContext::GetAppRole() == NorvoAppRole_Hub) {
    OpenMediaLibrary();
  } else {
    LOG(LS_INFO) << "NorvoCoreClient - constructor, device mode, no media library";
  }
  std::string owner = name ? name : "";
  if (owner.size() > kOwnerBareJidChars) owner.resize(kOwnerBareJidChars);
  {
    std::lock_guard<std::mutex> lock(g_owner_mutex);
    g_owner_bare_jid = owner;
  }
  LOG(LS_INFO) << "NorvoCoreClient::Constructor done, user name: " << owner;
}

void NorvoCoreClient::OpenMediaLibrary() {
  media_db_ = std::make_unique<NorvoMediaDBManager>();
  if (!media_db_->Open()) {
    LOG(LS_ERROR) << "NorvoCoreClient constructor, db cannot be opened.";
  }
  LOG(LS_INFO) << "NorvoCoreClient - constructor, hub mode, start DB self check ...";
  if (media_db_->IsOpen()) media_db_->SelfCheck();
  NorvoMediaDBManager::RetrieveDBFileChecksum(true);
  LOG(LS_INFO)
      << "NorvoCoreClient - constructor, hub mode, DB self check done, force checksum calc only "
         "once";
}

NorvoCoreClient::~NorvoCoreClient() {
  LOG(LS_INFO) << "NorvoCoreClient:De-constructor - close media db";
  media_db_.reset();
  LOG(LS_INFO) << "NorvoCoreClient:De-constructor - delete the serving map, the device map and "
                  "the roster";
  remote_node_serving_map_.clear();
  roster_.clear();
  LOG(LS_INFO) << "NorvoCoreClient:De-constructor - delete connection keeper";
  connection_keeper_.reset();
  // The stream session client and the session manager come with the streaming sessions.
  LOG(LS_INFO) << "NorvoCoreClient:De-constructor - delete worker thread";
  worker_thread_.reset();
  // The stanza tasks belong to the XMPP client's task runner, which ended with Start.
  shell_.reset();
  LOG(LS_INFO) << "NorvoCoreClient:De-constructor - NorvoCoreClient:Destructor DONE.";
}

norvo::_ClientState NorvoCoreClient::GetClientState() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return state_;
}

void NorvoCoreClient::Report(norvo::_ClientEvent event, norvo::_ClientState state) {
  if (native_) native_->OnClientStateChanged(event, state);
}

bool NorvoCoreClient::SetInitialProtocol(const std::string& protocol) {
  if (protocol != "jingle" && protocol != "gingle" && protocol != "hybrid") {
    LOG(LS_ERROR) << "NorvoCoreClient::SetInitialProtocol - Invalid protocol.  Must be jingle, "
                     "gingle, or hybrid.";
    return false;
  }
  initial_protocol_ = protocol;
  return true;
}

bool NorvoCoreClient::SetSecurePolicy(const std::string& policy) {
  if (policy != "disable" && policy != "enable" && policy != "require") {
    LOG(LS_ERROR) << "NorvoCoreClient::SetSecurePolicy - Invalid encryption.  Must be enable, "
                     "disable, or require.";
    return false;
  }
  secure_policy_ = policy;
  return true;
}

void NorvoCoreClient::SetKeepAliveTiming(int first_ms, int period_ms) {
  keep_alive_first_ms_ = first_ms;
  keep_alive_period_ms_ = period_ms;
}

bool NorvoCoreClient::StateTransition(_CoreClientFsmEvent event) {
  norvo::_ClientState reported_state;
  norvo::_ClientEvent reported_event;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    NorvoLogger::Info("NorvoCoreClient::StateTransition - Event code - %d", event);
    LOG(LS_INFO) << "NorvoCoreClient::StateTransition - Event: " << FsmEventName(event)
                 << ", current state: " << StateName(state_);
    norvo::_ClientState next = state_;
    bool accepted = true;
    if (event == FsmEvent_Start && state_ == norvo::CLIENT_STATE_OFFLINE) {
      next = norvo::CLIENT_STATE_CONNECTING;
      reported_event = norvo::CLIENT_EVENT_LOGGING_IN;
    } else if (event == FsmEvent_LoggedIn && state_ == norvo::CLIENT_STATE_CONNECTING) {
      next = norvo::CLIENT_STATE_ONLINE;
      reported_event = norvo::CLIENT_EVENT_LOGIN_OK;
    } else if (event == FsmEvent_LogOut && (state_ == norvo::CLIENT_STATE_ONLINE ||
                                            state_ == norvo::CLIENT_STATE_DISCONNECTING)) {
      next = norvo::CLIENT_STATE_DISCONNECTING;
      reported_event = norvo::CLIENT_EVENT_LOGGING_OUT;
    } else if (event == FsmEvent_LoggedOut && state_ == norvo::CLIENT_STATE_DISCONNECTING) {
      next = norvo::CLIENT_STATE_OFFLINE;
      reported_event = norvo::CLIENT_EVENT_LOGOUT_OK;
    } else if (event == FsmEvent_AuthFailed && state_ == norvo::CLIENT_STATE_CONNECTING) {
      next = norvo::CLIENT_STATE_OFFLINE;
      reported_event = norvo::CLIENT_EVENT_AUTH_ERR;
    } else if (event == FsmEvent_ConnectionFailed &&
               (state_ == norvo::CLIENT_STATE_CONNECTING || state_ == norvo::CLIENT_STATE_ONLINE)) {
      next = norvo::CLIENT_STATE_DISCONNECTING;
      reported_event = norvo::CLIENT_EVENT_NETWORK_ERR;
    } else if (event == FsmEvent_ConnectionFailed) {
      LOG(LS_INFO) << "NorvoCoreClient::StateTransition - No state transition because client is "
                      "not online, event will be ignored.";
      return false;
    } else {
      accepted = false;
    }
    if (!accepted) {
      if (event != FsmEvent_SysErr) {
        LOG(LS_ERROR) << "NorvoCoreClient::StateTransition - Unexpected state - need further "
                         "investigation.";
        return false;
      }
      reported_event = norvo::CLIENT_EVENT_SYSTEM_ERR;
      reported_state = norvo::CLIENT_STATE_OFFLINE;
    } else {
      state_ = next;
      reported_state = next;
    }
  }
  // Reported outside the lock: the host may hand the report to another thread and wait for it.
  Report(reported_event, reported_state);
  if (event == FsmEvent_SysErr) {
    LOG(LS_ERROR) << "NorvoCoreClient::StateTransition - Unexpected state - need further "
                     "investigation.";
    return false;
  }
  return true;
}

int NorvoCoreClient::Start(const char* name, const char* pwd, const int auth_type) {
  LOG(LS_INFO) << "NorvoCoreClient::Start - START";
  LOG(LS_INFO) << "NorvoCoreClient::Start - current state: " << StateName(GetClientState());
  if (!name || !*name) {
    LOG(LS_ERROR) << "NorvoCoreClient::Start - Name field is invalid, log in cannot proceed";
    return 1;
  }
  if (!pwd || !*pwd) {
    LOG(LS_ERROR) << "NorvoCoreClient::Start - Pwd field is invalid, log in cannot proceed";
    return 1;
  }
  if (!StateTransition(FsmEvent_Start)) {
    LOG(LS_ERROR)
        << "NorvoCoreClient::Start - Not allowed because StateTransition() returned false.";
    return -1;
  }
  if (!SetInitialProtocol("hybrid") || !SetSecurePolicy("disable")) return 1;

  const buzz::Jid jid(name);
  buzz::XmppClientSettings settings;
  settings.set_user(jid.node());
  settings.set_host(jid.domain());
  settings.set_resource(kResource);
  settings.set_use_tls(buzz::TLS_ENABLED);
  settings.set_allow_plain(false);
  const norvo_login::XmppServerAddress server = norvo_login::ServerFromEnvironment(jid.domain());
  settings.set_server(server.host, server.port);
  settings.set_pass(pwd);
  if (auth_type == 2) {
    LOG(LS_INFO) << "NorvoCoreClient::Start - auth type is OATH2.";
    settings.set_auth_token(buzz::AUTH_MECHANISM_OAUTH2, pwd);
  } else {
    NorvoLogger::Info("NorvoCoreClient::Start - auth type is other, code value: %d", auth_type);
  }

  // TLS is set up by the socket itself (OpenSSL 3 needs no global initialisation).
  talk_base::AutoThread main_thread;
  main_thread_ = &main_thread;
  connection_failed_ = false;
  {
    XmppPump pump;
    xmpp_client_ = pump.client();
    xmpp_client_->SignalStateChange.connect(this, &NorvoCoreClient::OnXmppClientStateChange);
    xmpp_client_->SignalLogInput.connect(&DebugLog::Instance(), &DebugLog::Input);
    xmpp_client_->SignalLogOutput.connect(&DebugLog::Instance(), &DebugLog::Output);

    SetAllowLocalIps(true);

    auto* socket = new XmppSocket(true);  // owned by the XMPP client from DoLogin on
    socket->SignalCloseEvent.connect(this, &NorvoCoreClient::OnXmmpSocketClosedEvent);

    {
      // The host's thread may look for the shell at any moment (LogOut, transfer commands).
      std::lock_guard<std::mutex> lock(state_mutex_);
      shell_ = std::make_unique<NorvoKernelShell>(&main_thread, this);
    }
    shell_->Start();

    pump.DoLogin(settings, socket, new XmppAuth());
    main_thread.Run();

    LOG(LS_INFO) << "NorvoCoreClient::Start:Pump.DoLogin returned. Start disconnecting.";
    LOG(LS_INFO) << "NorvoCoreClient::Start - current state: " << StateName(GetClientState());
    socket->SignalCloseEvent.disconnect(this);
    pump.DoDisconnect();
    shell_->Stop();
    // The keeper posts to this thread; it must be quiet before the thread goes away.
    if (connection_keeper_) connection_keeper_->Stop();

    // Made at the end of every session that got this far, whatever the state machine holds.
    Report(norvo::CLIENT_EVENT_LOGOUT_OK, norvo::CLIENT_STATE_OFFLINE);

    xmpp_client_->SignalStateChange.disconnect(this);
    xmpp_client_ = nullptr;
    presence_out_ = nullptr;
  }
  connection_keeper_.reset();
  DebugLog::Instance().Clear();
  main_thread_ = nullptr;
  return 0;
}

void NorvoCoreClient::OnXmppClientStateChange(buzz::XmppEngine::State state) {
  switch (state) {
    case buzz::XmppEngine::STATE_START:
      LOG(LS_INFO) << "NorvoCoreClient::OnStateChang - STATE_START: Attempting sign in...";
      break;
    case buzz::XmppEngine::STATE_OPENING:
      LOG(LS_INFO) << "NorvoCoreClient::OnStateChang - STATE_OPENING: Negotiating the stream...";
      break;
    case buzz::XmppEngine::STATE_OPEN:
      LOG(LS_INFO) << "NorvoCoreClient::STATE_OPEN - User successfully logged in.";
      InitPhone();
      LOG(LS_INFO) << "NorvoCoreClient::STATE_OPEN - Connection succeeded. Send your presence "
                      "information";
      InitPresence();
      StartConnectionKeeper();
      StateTransition(FsmEvent_LoggedIn);
      break;
    case buzz::XmppEngine::STATE_CLOSED: {
      int subcode = 0;
      const int error = xmpp_client_ ? xmpp_client_->GetError(&subcode) : 0;
      LOG(LS_INFO) << "NorvoCoreClient::STATE_CLOSED - Connection ended, error is: " << error;
      LOG(LS_INFO) << "NorvoCoreClient::OnXmppClientStateChange::Client will log out with reason: "
                   << strerror(error);
      if (connection_failed_) {
        LOG(LS_INFO) << "NorvoCoreClient::STATE_CLOSED - Connection closed because of a "
                        "connection failure. ";
      } else if (error == buzz::XmppEngine::ERROR_NONE) {
        LOG(LS_INFO) << "NorvoCoreClient::STATE_CLOSED - There is no error, this is a normal sign "
                        "out.";
        StateTransition(FsmEvent_LoggedOut);
      } else if (error == buzz::XmppEngine::ERROR_UNAUTHORIZED) {
        LOG(LS_INFO) << "NorvoCoreClient::STATE_CLOSED - Login failed.";
        if (StateTransition(FsmEvent_AuthFailed)) Quit();
      } else if (error == buzz::XmppEngine::ERROR_STREAM) {
        LOG(LS_INFO) << "NorvoCoreClient::STATE_CLOSED - Stream error encountered, log out now";
        if (StateTransition(FsmEvent_ConnectionFailed)) Quit();
      } else {
        LOG(LS_INFO) << "NorvoCoreClient::STATE_CLOSED - Other error code, quit anyway";
        StateTransition(FsmEvent_SysErr);
        Quit();
      }
      break;
    }
    default:
      break;
  }
}

void NorvoCoreClient::OnXmmpSocketClosedEvent(int error) {
  LOG(LS_ERROR) << "NorvoCoreClient::OnXmmpSocketClosedEvent:Err code: " << error;
  LOG(LS_ERROR) << "NorvoCoreClient::OnXmmpSocketClosedEvent - This is a connection failure, "
                   "sign out now.";
  connection_failed_ = true;
  if (StateTransition(FsmEvent_ConnectionFailed)) Quit();
}

void NorvoCoreClient::Quit() {
  LOG(LS_INFO) << "NorvoCoreClient - Quit, cancel all existing sessions.";
  // The stream session client's CancelAllSessions comes with the streaming sessions.
  if (connection_keeper_) connection_keeper_->Stop();
  LOG(LS_INFO) << "NorvoCoreClient - Quit, final step - quit current thread now.";
  talk_base::Thread* thread =
      main_thread_ ? main_thread_ : talk_base::ThreadManager::CurrentThread();
  if (thread) thread->Quit();
}

int NorvoCoreClient::LogOut() {
  LOG(LS_INFO) << "NorvoCoreClient::LogOut";
  if (!StateTransition(FsmEvent_LogOut)) return -1;
  if (NorvoKernelShell* shell = Shell()) shell->OnNorvoCommandReceived(NORVO_CMD_SIGN_OUT, nullptr);
  return 0;
}

NorvoKernelShell* NorvoCoreClient::Shell() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return shell_.get();
}

void NorvoCoreClient::OnNorvoCommandReceived(int command, const char* parameter) {
  NorvoKernelShell* shell = Shell();
  if (!shell) {
    LOG(LS_WARNING) << "NorvoCoreClient::OnNorvoCommandReceived - No session, command " << command
                    << " dropped";
    return;
  }
  shell->OnNorvoCommandReceived(command, parameter);
}

std::string NorvoCoreClient::strerror(int error) {
  switch (error) {
    case 0:
      return "";
    case 1:
      return "Malformed XML or encoding error";
    case 2:
      return "XMPP stream error";
    case 3:
      return "XMPP version error";
    case 4:
      return "User is not authorized (Check your username and password)";
    case 5:
      return "TLS could not be negotiated";
    case 6:
      return "Authentication could not be negotiated";
    case 7:
      return "Resource or session binding could not be negotiated";
    case 8:
      return "Connection closed by output handler.";
    case 9:
      return "Closed by </stream:stream>";
    case 10:
      return "Socket error";
  }
  return "Unknown error";
}

void NorvoCoreClient::InitPhone() {
  LOG(LS_INFO) << "NorvoCoreClient - InitPhone";
  const std::string full_jid = xmpp_client_ ? xmpp_client_->jid().Str() : std::string();
  talk_base::InitRandom(full_jid.data(), full_jid.size());

  worker_thread_ = std::make_unique<talk_base::Thread>();
  worker_thread_->SetName("SessionManager Worker Thread", nullptr);
  worker_thread_->Start();

  // The network manager, the port allocator ("pcp"), the session manager and its task, and the
  // stream session client ("norvo") are set up here with the streaming sessions.

  connection_keeper_ = std::make_unique<NorvoConnectionKeeper>(
      xmpp_client_, main_thread_, keep_alive_first_ms_, keep_alive_period_ms_);
}

void NorvoCoreClient::OnRequestSignaling() {
  LOG(LS_INFO) << "NorvoCoreClient::OnRequestSignaling";
}

void NorvoCoreClient::InitPresence() {
  LOG(LS_INFO) << "NorvoCoreClient::InitPresence";
  if (!native_) {
    LOG(LS_ERROR) << "NorvoCoreClient::InitPresence - vNativeInstance is NULL!";
  }
  // In this order, as the stanza tasks arrive: presence push, presence out, roster query (then
  // QueryRoster), roster result, subscription responses, vCard push, hub requests, hub results.
  RefreshStatus();
}

void NorvoCoreClient::StartConnectionKeeper() {
  LOG(LS_INFO) << "NorvoCoreClient::StartConnectionKeeper";
  if (connection_keeper_) connection_keeper_->Start();
}

void NorvoCoreClient::RefreshStatus() {
  LOG(LS_INFO) << "NorvoCoreClient - RefreshStatus";
  // The own presence record and its stanza come with the presence-out task.
}

int NorvoCoreClient::PlayInternal(const std::string& jid, const std::string& song_id) {
  LOG(LS_INFO) << "NorvoCoreClient::PlayInternal - jid: " << jid << ", song: " << song_id;
  LOG(LS_INFO) << "NorvoCoreClient::PlayInternal - End";
  return 0;
}

int NorvoCoreClient::PauseInternal() { return 0; }

int NorvoCoreClient::ResumeInternal() { return 0; }

int NorvoCoreClient::SeekInternal(int position) {
  LOG(LS_INFO) << "NorvoCoreClient::SeekInternal - position: " << position;
  return 0;
}

void NorvoCoreClient::CancelFileShare(const std::string& share_id) {
  LOG(LS_INFO) << "NorvoCoreClient::CancelFileShare - share id: " << share_id;
}

void NorvoCoreClient::AcceptFileShare(const std::string& share_id, const std::string& target_folder,
                                      const std::string& target_file_name) {
  LOG(LS_INFO) << "NorvoCoreClient::AcceptFileShare - share id: " << share_id
               << ", folder: " << target_folder << ", file: " << target_file_name;
}

void NorvoCoreClient::DeclineFileShare(const std::string& share_id) {
  LOG(LS_INFO) << "NorvoCoreClient::DeclineFileShare - share id: " << share_id;
}

int NorvoCoreClient::InitiateMusicStreamDB(const std::string& share_id, const std::string& jid,
                                           const std::string& target_uri, const std::string&,
                                           const std::string&, const std::string&,
                                           const std::string&, const std::string&,
                                           norvo::NorvoMediaItem*) {
  LOG(LS_WARNING) << "NorvoCoreClient::InitiateMusicStreamDB - streaming is not available, share "
                  << share_id << " to " << jid << " (" << target_uri << ") not started";
  return -1;
}

int NorvoCoreClient::SendFile(const std::string& share_id, const std::string& jid,
                              const std::string& target_uri, const std::string&, const std::string&,
                              const std::string&, const std::string&, const std::string&) {
  LOG(LS_WARNING) << "NorvoCoreClient::SendFile - streaming is not available, share " << share_id
                  << " to " << jid << " (" << target_uri << ") not started";
  return -1;
}

void NorvoCoreClient::RemoveStreamingNode(const std::string& remote_jid) {
  LOG(LS_INFO) << "NorvoCoreClient::RemoveStreamingNode - " << remote_jid;
}

void NorvoCoreClient::SendSubscriptionMessage(const std::string& user, int type) {
  LOG(LS_WARNING) << "NorvoCoreClient::SendSubscriptionMessage - not available yet: " << user
                  << ", type " << type;
}

void NorvoCoreClient::InviteFriend(const std::string& user) {
  LOG(LS_WARNING) << "NorvoCoreClient:InviteFriend - not available yet: " << user;
}

void NorvoCoreClient::SendPresence(const std::string& status) {
  LOG(LS_WARNING) << "NorvoCoreClient::SendPresence - not available yet: " << status;
}

void NorvoCoreClient::SendPresence(const std::string& status, const std::string& signature) {
  LOG(LS_WARNING) << "NorvoCoreClient::SendPresence - not available yet: " << status << ", "
                  << signature;
}

void NorvoCoreClient::SendSignature(const std::string& signature) {
  LOG(LS_WARNING) << "NorvoCoreClient::SendSignature - not available yet: " << signature;
}

void NorvoCoreClient::SendVCardRequest(const std::string& to) {
  LOG(LS_WARNING) << "NorvoCoreClient::SendVCardRequest - not available yet: " << to;
}
