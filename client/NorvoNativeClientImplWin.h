// The desktop implementation of the native interface: it creates the core client of a session,
// wires the command and event signals between the two, and answers the interface operations.
// The hub's player role does not exist here: those operations end the process.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "client-core/NorvoNativeInterface.h"
#include "messaging/sigslot/sigslot.h"

class NorvoCoreClient;
namespace norvo {
class NorvoMediaItem;
}  // namespace norvo

class NorvoNativeClientImplWin : public norvo::NorvoNativeInterface {
 public:
  // Capacity of a command text, terminating zero included; longer texts are cut to fit.
  static constexpr size_t kCommandBufferSize = 128;

  NorvoNativeClientImplWin();
  ~NorvoNativeClientImplWin() override;

  void lock() override {}
  void unlock() override {}

  int Start(const char* name, const char* pwd, const int auth_type) override;
  int LogOut() override;
  norvo::_ClientState GetClientState() override;
  void OnClientStateChanged(norvo::_ClientEvent event, norvo::_ClientState state) override;
  int SendNHubMessage(const std::string& to, const std::string& type,
                      const std::string& message) override;
  int SendNHubPlayRequest(const std::string& to, const std::string& type,
                          const std::string& message, const std::string& uri) override;
  void OnNHubGetMessageReceived(const buzz::Jid& from, const std::string& message) override;
  void OnNHubResultMessageReceived(const buzz::Jid& from, const std::string& message) override;
  void OnRosterStatusUpdate(const buzz::Status& status) override;
  void OnRosterReceived(const buzz::XmlElement* stanza) override;
  void OnRosterSubRespReceived(_NorvoRosterSubscriptionMsg* msg) override;
  void SendSubscriptionMessage(const std::string& to, int type) override;
  void AddBuddy(const std::string& jid) override;
  void SendPresence(const std::string& status) override;
  void SendPresence(const std::string& status, const std::string& signature) override;
  void SendSignature(const std::string& sig) override;
  norvo::RosterMap* GetRosterMap() override;
  void SendVCardRequest(const std::string& to) override;
  void OnRosterVCardReceived(const std::string& jid, const std::string& fn,
                             const std::string& img_b64) override;
  norvo::_Norvo_NetworkPlayerState GetNetworkPlayerState() override;
  void OnNetworkPlayerStateChanged(norvo::_Norvo_NetworkPlayerEvent event,
                                   norvo::_Norvo_NetworkPlayerState state) override;
  void OnStreamPlayerStateChanged(const std::string& share_id, int state) override;
  bool IsMusicStreaming() override;
  int GetCurrentPlayingProgress() override;
  void AcceptFileShare(const std::string& share_id, const std::string& target_folder,
                       const std::string& target_file_name) override;
  void DeclineFileShare(const std::string& share_id) override;
  void CancelFileShare(const std::string& share_id) override;
  void TestSendFile() override;
  int Play(const std::string& jid, const std::string& song_uuid) override;
  int Pause() override;
  int Resume() override;
  int Seek(const int position) override;
  void OnFileShareRequestReceived(const std::string& share_id, const buzz::Jid& target, int type,
                                  const std::string& fileName, int size, bool needPreview) override;
  void OnFileShareProgressUpdated(const std::string& share_id, int percent) override;
  void OnMusicStreamingProgressUpdated(const std::string& share_id, int progress) override;
  int GetCurrentMusicStreamingProgress(const std::string& share_id) override;
  void OnFileSharePreviewReceived(const std::string& share_id, const std::string& path, int w,
                                  int h) override;
  void OnFileShareStateChanged(const std::string& remote_jid, const std::string& share_id,
                               int state) override;
  cricket::CallOptions* GetCurrentCallOption() override;
  buzz::Jid GetCurrentJidInCall() override;
  void OnFileSystemChanged() override;
  void OnRemoteDeviceActivity(_NorvoStreamingDevice* device) override;
  void TestMusicStreaming() override;
  void StopStreamPlayer(const std::string& pos) override;
  void ResumeStreamPlayer(const std::string& pos) override;

  // Starts a transfer session: a song for NorvoStreamType_Music, a plain file (the library
  // database) for NorvoStreamType_File. The called operation's result, or 6 for another type.
  int InitiateMediaStream(const std::string& share_id, const std::string& jid,
                          const std::string& targetUri, const std::string& width,
                          const std::string& height, const std::string& preview_file_path,
                          const std::string& start_pos, const std::string& need_preview,
                          NorvoStreamType stream_type, norvo::NorvoMediaItem* targetItem);
  int ShareMusicDBFile(const buzz::Jid& jid);

  // Handler of the core client's event signal.
  void OnNorvoEvent(int code, const char* jid, const char* other);

  NorvoEvent exit_reason() const { return exit_reason_; }

  // (code, text) to the core client's command entry.
  sigslot::signal2<int, const char*> SignalNorvoCommand;

 private:
  [[noreturn]] void Unsupported(const char* operation);
  // Raises the command signal with `text` cut to the command buffer.
  void SendCommand(int code, const std::string& text);

  // Guards core_client_, which the client thread creates and deletes while the window's thread
  // may be calling LogOut or reading the state.
  std::mutex core_mutex_;
  std::unique_ptr<NorvoCoreClient> core_client_;
  NorvoEvent exit_reason_ = NorvoEvent_Client_SignedOut;
};
