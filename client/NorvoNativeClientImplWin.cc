#include "client/NorvoNativeClientImplWin.h"

#include <new>

#include "client-core/NorvoCoreClient.h"
#include "client-core/NorvoKernelShell.h"
#include "client-core/NorvoLogger.h"
#include "client-core/NorvoMediaDBManager.h"
#include "messaging/base/helpers.h"
#include "messaging/base/logging.h"
#include "messaging/xmpp/jid.h"

namespace {

// The last state of a streaming session: its resources are released.
constexpr int kFileShareResourceReleased = 8;

}  // namespace

namespace norvo {

NorvoNativeInterface* NorvoNativeInterface::CreateInstance(InitData_* /*init_data*/) {
  return new (std::nothrow) NorvoNativeClientImplWin();
}

}  // namespace norvo

NorvoNativeClientImplWin::NorvoNativeClientImplWin() {
  LOG(LS_INFO) << "NorvoNativeClientImplWin - Constructor called";
}

NorvoNativeClientImplWin::~NorvoNativeClientImplWin() {
  LOG(LS_INFO) << "NorvoNativeClientImplWin - De-constructor called, exit reason: "
               << static_cast<int>(exit_reason_);
  SignalNorvoCommand.disconnect_all();
}

int NorvoNativeClientImplWin::Start(const char* name, const char* pwd, const int auth_type) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::SignIn - Start";
  NorvoCoreClient* client = nullptr;
  {
    std::lock_guard<std::mutex> lock(core_mutex_);
    if (core_client_) {
      NorvoLogger::Fatal(
          "NorvoNativeClientImplWin::Start - NorvoCoreClient instance should be null, abort now!");
    }
    core_client_ = std::make_unique<NorvoCoreClient>(this, name);
    client = core_client_.get();
  }
  SignalNorvoCommand.connect(client, &NorvoCoreClient::OnNorvoCommandReceived);
  client->SignalNorvoEvent.connect(this, &NorvoNativeClientImplWin::OnNorvoEvent);
  client->Start(name, pwd, auth_type);
  {
    std::lock_guard<std::mutex> lock(core_mutex_);
    core_client_.reset();
  }
  LOG(LS_INFO)
      << "NorvoNativeClientImplWin::Start - ====================================================";
  LOG(LS_INFO) << "NorvoNativeClientImplWin::Start:Call client finalized!!!!!";
  LOG(LS_INFO)
      << "NorvoNativeClientImplWin::Start - ====================================================";
  return 0;
}

int NorvoNativeClientImplWin::LogOut() {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::LogOut";
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (!core_client_) return -1;
  return core_client_->LogOut();
}

norvo::_ClientState NorvoNativeClientImplWin::GetClientState() {
  std::lock_guard<std::mutex> lock(core_mutex_);
  return core_client_ ? core_client_->GetClientState() : norvo::CLIENT_STATE_OFFLINE;
}

void NorvoNativeClientImplWin::OnClientStateChanged(norvo::_ClientEvent event,
                                                    norvo::_ClientState state) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnClientStateChanged - event = "
               << static_cast<int>(event) << ", state = " << static_cast<int>(state);
  LogClientEvent(event);
  LogClientState(state);
  switch (event) {
    case norvo::CLIENT_EVENT_LOGIN_OK:
      SignalNorvoEvent(NorvoEvent_Client_SignedIn);
      break;
    case norvo::CLIENT_EVENT_LOGOUT_OK:
      SignalNorvoEvent(NorvoEvent_Client_SignedOut);
      break;
    case norvo::CLIENT_EVENT_NETWORK_ERR:
      exit_reason_ = NorvoEvent_Connection_Failed;
      SignalNorvoEvent(NorvoEvent_Connection_Failed);
      break;
    case norvo::CLIENT_EVENT_AUTH_ERR:
      exit_reason_ = NorvoEvent_Client_AuthFailed;
      SignalNorvoEvent(NorvoEvent_Client_AuthFailed);
      break;
    default:
      break;
  }
}

int NorvoNativeClientImplWin::SendNHubMessage(const std::string&, const std::string&,
                                              const std::string&) {
  return 4;
}

int NorvoNativeClientImplWin::SendNHubPlayRequest(const std::string&, const std::string&,
                                                  const std::string&, const std::string&) {
  return 0;
}

void NorvoNativeClientImplWin::OnNHubGetMessageReceived(const buzz::Jid& from,
                                                        const std::string& message) {
  // The hub request dispatcher comes with the hub message protocol.
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnNHubGetMessageReceived - from: " << from.Str()
               << ", message: " << message;
}

void NorvoNativeClientImplWin::OnNHubResultMessageReceived(const buzz::Jid&, const std::string&) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnNHubResultMessageReceived - Empty impl";
}

void NorvoNativeClientImplWin::OnRosterStatusUpdate(const buzz::Status&) {}

void NorvoNativeClientImplWin::OnRosterReceived(const buzz::XmlElement*) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnRosterReceived - Do nothing";
}

void NorvoNativeClientImplWin::OnRosterSubRespReceived(_NorvoRosterSubscriptionMsg* msg) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnRosterSubRespReceived";
  SignalRosterSubscriptionMsg(msg);
}

void NorvoNativeClientImplWin::SendSubscriptionMessage(const std::string& to, int type) {
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (core_client_) core_client_->SendSubscriptionMessage(to, type);
}

void NorvoNativeClientImplWin::AddBuddy(const std::string& jid) {
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (core_client_) core_client_->InviteFriend(jid);
}

void NorvoNativeClientImplWin::SendPresence(const std::string& status) {
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (core_client_) core_client_->SendPresence(status);
}

void NorvoNativeClientImplWin::SendPresence(const std::string& status,
                                            const std::string& signature) {
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (core_client_) core_client_->SendPresence(status, signature);
}

void NorvoNativeClientImplWin::SendSignature(const std::string& sig) {
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (core_client_) core_client_->SendSignature(sig);
}

norvo::RosterMap* NorvoNativeClientImplWin::GetRosterMap() {
  std::lock_guard<std::mutex> lock(core_mutex_);
  return core_client_ ? core_client_->GetRosterMap() : nullptr;
}

void NorvoNativeClientImplWin::SendVCardRequest(const std::string& to) {
  std::lock_guard<std::mutex> lock(core_mutex_);
  if (core_client_) core_client_->SendVCardRequest(to);
}

void NorvoNativeClientImplWin::OnRosterVCardReceived(const std::string& jid, const std::string& fn,
                                                     const std::string& img_b64) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnRosterVCardReceived:Received a vcard query result "
                  "for: "
               << jid;
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnRosterVCardReceived:Full name:" << fn;
  SignalRosterVCardReceived(jid, fn, img_b64);
}

void NorvoNativeClientImplWin::Unsupported(const char* operation) {
  NorvoLogger::Fatal("NorvoNativeClientImplWin - %s is not supported, abort!", operation);
}

norvo::_Norvo_NetworkPlayerState NorvoNativeClientImplWin::GetNetworkPlayerState() {
  Unsupported("GetNetworkPlayerState");
}

void NorvoNativeClientImplWin::OnNetworkPlayerStateChanged(norvo::_Norvo_NetworkPlayerEvent,
                                                           norvo::_Norvo_NetworkPlayerState) {
  Unsupported("OnNetworkPlayerStateChanged");
}

void NorvoNativeClientImplWin::OnStreamPlayerStateChanged(const std::string& share_id, int state) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnStreamPlayerStateChanged - share id: " << share_id
               << ", state: " << state << ", do nothing";
}

bool NorvoNativeClientImplWin::IsMusicStreaming() { Unsupported("IsMusicStreaming"); }

int NorvoNativeClientImplWin::GetCurrentPlayingProgress() {
  Unsupported("GetCurrentPlayingProgress");
}

void NorvoNativeClientImplWin::SendCommand(int code, const std::string& text) {
  std::string cut = text;
  if (cut.size() >= kCommandBufferSize) cut.resize(kCommandBufferSize - 1);
  SignalNorvoCommand(code, cut.c_str());
}

void NorvoNativeClientImplWin::AcceptFileShare(const std::string& share_id,
                                               const std::string& target_folder,
                                               const std::string& target_file_name) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::AcceptFileShare: " << share_id << "; sample rate: "
               << "0";
  std::string text = share_id;
  text += kNorvoFieldSeparator;
  text += "0";
  text += kNorvoFieldSeparator;
  text += target_folder;
  text += kNorvoFieldSeparator;
  text += target_file_name;
  SendCommand(NORVO_CMD_ACCEPT_FILE, text);
}

void NorvoNativeClientImplWin::DeclineFileShare(const std::string& share_id) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::DeclineFileShare: " << share_id;
  SendCommand(NORVO_CMD_DECLINE_FILE, share_id);
}

void NorvoNativeClientImplWin::CancelFileShare(const std::string& share_id) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::CancelFileShare: " << share_id;
  SendCommand(NORVO_CMD_CANCEL_FILE, share_id);
}

void NorvoNativeClientImplWin::TestSendFile() {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::TestSendFile - diagnostic only, nothing to do";
}

int NorvoNativeClientImplWin::Play(const std::string&, const std::string&) { Unsupported("Play"); }

int NorvoNativeClientImplWin::Pause() { Unsupported("Pause"); }

int NorvoNativeClientImplWin::Resume() { Unsupported("Resume"); }

int NorvoNativeClientImplWin::Seek(const int) { Unsupported("Seek"); }

void NorvoNativeClientImplWin::OnFileShareRequestReceived(const std::string& share_id,
                                                          const buzz::Jid& target, int type,
                                                          const std::string& fileName, int size,
                                                          bool needPreview) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnFileShareRequestReceived - share id: " << share_id
               << ", from: " << target.Str() << ", type: " << type << ", file: " << fileName
               << ", size: " << size << ", preview: " << needPreview;
}

void NorvoNativeClientImplWin::OnFileShareProgressUpdated(const std::string& share_id,
                                                          int percent) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnFileShareProgressUpdated - share id: " << share_id
               << ", percent: " << percent;
}

void NorvoNativeClientImplWin::OnMusicStreamingProgressUpdated(const std::string&, int) {
  Unsupported("OnMusicStreamingProgressUpdated");
}

int NorvoNativeClientImplWin::GetCurrentMusicStreamingProgress(const std::string&) {
  Unsupported("GetCurrentMusicStreamingProgress");
}

void NorvoNativeClientImplWin::OnFileSharePreviewReceived(const std::string& share_id,
                                                          const std::string& path, int w, int h) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnFileSharePreviewReceived - share id: " << share_id
               << ", path: " << path << ", size: " << w << "x" << h;
}

void NorvoNativeClientImplWin::OnFileShareStateChanged(const std::string& remote_jid,
                                                       const std::string& share_id, int state) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin:OnFileShareStateChanged - state: " << state
               << ", peer: " << remote_jid << ", session id: " << share_id;
  if (state != kFileShareResourceReleased) {
    LOG(LS_INFO) << "NorvoNativeClientImplWin:OnFileShareStateChanged:state - do nothing for now "
                    "because the notification state is not FS_RESOURCE_RELEASED";
    return;
  }
  LOG(LS_INFO) << "NorvoNativeClientImplWin:OnFileShareStateChanged:state - FS_RESOURCE_RELEASED";
  // Called on the client thread by the session client, while the core client is alive.
  if (core_client_) core_client_->RemoveStreamingNode(remote_jid);
  // The resource-released notification to the peer comes with the hub message protocol.
}

cricket::CallOptions* NorvoNativeClientImplWin::GetCurrentCallOption() { return nullptr; }

buzz::Jid NorvoNativeClientImplWin::GetCurrentJidInCall() { return buzz::Jid(); }

void NorvoNativeClientImplWin::OnFileSystemChanged() {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnFileSystemChanged";
}

void NorvoNativeClientImplWin::OnRemoteDeviceActivity(_NorvoStreamingDevice* device) {
  // The device record's fields are logged with stream admission, which defines it.
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnRemoteDeviceActivity - device: "
               << static_cast<const void*>(device);
  SignalRemoteDeviceActivity(device);
}

void NorvoNativeClientImplWin::TestMusicStreaming() {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::TestMusicStreaming - diagnostic only, nothing to do";
}

void NorvoNativeClientImplWin::StopStreamPlayer(const std::string&) {
  Unsupported("StopStreamPlayer");
}

void NorvoNativeClientImplWin::ResumeStreamPlayer(const std::string&) {
  Unsupported("ResumeStreamPlayer");
}

int NorvoNativeClientImplWin::InitiateMediaStream(
    const std::string& share_id, const std::string& jid, const std::string& targetUri,
    const std::string& width, const std::string& height, const std::string& preview_file_path,
    const std::string& start_pos, const std::string& need_preview, NorvoStreamType stream_type,
    norvo::NorvoMediaItem* targetItem) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::InitiateMediaStream - ------------------------------";
  LOG(LS_INFO) << "NorvoNativeClientImplWin::InitiateMediaStream - share id: " << share_id
               << ", jid: " << jid << ", target: " << targetUri;
  LOG(LS_INFO) << "NorvoNativeClientImplWin::InitiateMediaStream - ------------------------------";
  if (stream_type != NorvoStreamType_Music && stream_type != NorvoStreamType_File) return 6;
  if (!core_client_) {
    LOG(LS_ERROR) << "NorvoNativeClientImplWin::InitiateMediaStream - No session";
    return -1;
  }
  switch (stream_type) {
    case NorvoStreamType_Music:
      return core_client_->InitiateMusicStreamDB(share_id, jid, targetUri, width, height,
                                                 preview_file_path, start_pos, need_preview,
                                                 targetItem);
    case NorvoStreamType_File:
      return core_client_->SendFile(share_id, jid, targetUri, width, height, preview_file_path,
                                    start_pos, need_preview);
  }
  return 6;
}

int NorvoNativeClientImplWin::ShareMusicDBFile(const buzz::Jid& jid) {
  const std::string path = NorvoMediaDBManager::GetFullDBFilePath();
  LOG(LS_INFO) << "NorvoNativeClientImplWin:ShareMusicDBFile - Full db file path: " << path;
  return InitiateMediaStream(std::to_string(talk_base::CreateRandomId()), jid.Str(), path, "0", "0",
                             "", "0", "0", NorvoStreamType_File, nullptr);
}

void NorvoNativeClientImplWin::OnNorvoEvent(int code, const char* jid, const char* other) {
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnNorvoEvent, code = " << code
               << ", jid = " << (jid ? jid : "") << ", other value = " << (other ? other : "");
  if (code != NorvoEvent_FileAccess_Denied) {
    NorvoLogger::Fatal(
        "NorvoNativeClientImplWin::OnNorvoEvent - Unexpected event notification, code: %d, abort "
        "now.",
        code);
  }
  LOG(LS_INFO) << "NorvoNativeClientImplWin::OnNorvoEvent - NorvoEvent_FileAccess_Denied";
  // The access-denied play reply comes with the hub message protocol.
}
