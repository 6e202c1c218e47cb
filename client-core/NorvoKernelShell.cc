#include "client-core/NorvoKernelShell.h"

#include <algorithm>
#include <cstdlib>

#include "client-core/NorvoCoreClient.h"
#include "client-core/NorvoLogger.h"
#include "messaging/base/logging.h"

namespace {

using StringData = talk_base::TypedMessageData<std::string>;

const std::string& MessageText(const talk_base::Message* msg) {
  static const std::string kEmpty;
  const auto* data = dynamic_cast<const StringData*>(msg->pdata.get());
  return data ? data->data() : kEmpty;
}

}  // namespace

const char* NorvoCommandName(int command) {
  switch (command) {
    case NORVO_MSG_START:
      return "NORVO_MSG_START";
    case NORVO_CMD_ACCEPT_CALL:
      return "NORVO_CMD_ACCEPT_CALL";
    case NORVO_CMD_REJECT_CALL:
      return "NORVO_CMD_REJECT_CALL";
    case NORVO_CMD_HANG_UP:
      return "NORVO_CMD_HANG_UP";
    case NORVO_CMD_PLACE_VOICE_CALL_TO_REMOTE_TARGET:
      return "NORVO_CMD_PLACE_VOICE_CALL_TO_REMOTE_TARGET";
    case NORVO_CMD_PLACE_VIDEO_CALL_TO_REMOTE_TARGET:
      return "NORVO_CMD_PLACE_VIDEO_CALL_TO_REMOTE_TARGET";
    case NORVO_CMD_SEND_FILE:
      return "NORVO_CMD_SEND_FILE";
    case NORVO_CMD_PLAY_MUSIC:
      return "NORVO_CMD_PLAY_MUSIC";
    case NORVO_CMD_PAUSE_MUSIC:
      return "NORVO_CMD_PAUSE_MUSIC";
    case NORVO_CMD_RESUME_MUSIC:
      return "NORVO_CMD_RESUME_MUSIC";
    case NORVO_CMD_SEEK_MUSIC:
      return "NORVO_CMD_SEEK_MUSIC";
    case NORVO_CMD_CANCEL_FILE:
      return "NORVO_CMD_CANCEL_FILE";
    case NORVO_CMD_ACCEPT_FILE:
      return "NORVO_CMD_ACCEPT_FILE";
    case NORVO_CMD_DECLINE_FILE:
      return "NORVO_CMD_DECLINE_FILE";
    case NORVO_CMD_SIGN_OUT:
      return "NORVO_CMD_SIGN_OUT";
  }
  return nullptr;
}

NorvoKernelShell::NorvoKernelShell(talk_base::Thread* client_thread, NorvoCoreClient* client)
    : client_(client), client_thread_(client_thread) {
  LOG(LS_INFO) << "NorvoKernelShell - Constructor called, create working thread";
  console_thread_.SetName("NorvoKernelShell Thread", nullptr);
  LOG(LS_INFO) << "NorvoKernelShell - Constructor called";
}

NorvoKernelShell::~NorvoKernelShell() {
  Stop();
  console_thread_.Clear(this);
}

void NorvoKernelShell::Start() {
  if (started_) {
    LOG(LS_INFO) << "NorvoKernelShell - Already started";
    return;
  }
  LOG(LS_INFO) << "NorvoKernelShell - Start: Post NORVO_MSG_START";
  console_thread_.Start();
  started_ = true;
  console_thread_.Post(this, NORVO_MSG_START);
  LOG(LS_INFO) << "NorvoKernelShell - Started";
}

void NorvoKernelShell::Stop() {
  if (started_) {
    LOG(LS_INFO) << "NorvoKernelShell::Stop - Console thread started, stop it now";
    console_thread_.Stop();
    started_ = false;
  }
  std::lock_guard<std::mutex> lock(post_mutex_);
  if (client_thread_) {
    // The loop has ended (or is about to be torn down): what is still queued for us is dropped
    // now rather than left pointing at a shell and a client that are going away.
    client_thread_->Clear(this);
    client_thread_ = nullptr;
  }
}

void NorvoKernelShell::OnNorvoCommandReceived(int command, const char* parameter) {
  LOG(LS_INFO) << "NorvoKernelShell::OnNorvoCommandReceived: " << command;
  const char* name = command >= NORVO_CMD_ACCEPT_CALL ? NorvoCommandName(command) : nullptr;
  if (!name) {
    NorvoLogger::Fatal("NorvoKernelShell::OnNorvoCommandReceived - Unknown command: %d, abort now.",
                       command);
    return;
  }
  LOG(LS_INFO) << "NorvoKernelShell::OnNorvoCommandReceived: " << name;
  std::lock_guard<std::mutex> lock(post_mutex_);
  if (!client_thread_) {
    LOG(LS_WARNING) << "NorvoKernelShell::OnNorvoCommandReceived - Session has ended, " << name
                    << " dropped";
    return;
  }
  client_thread_->Post(this, static_cast<uint32_t>(command),
                       new StringData(std::string(parameter ? parameter : "")));
}

std::vector<std::string> NorvoKernelShell::SplitFields(const std::string& text,
                                                       const std::vector<size_t>& capacities) {
  std::vector<std::string> fields;
  fields.reserve(capacities.size());
  size_t pos = 0;
  for (size_t capacity : capacities) {
    if (pos > text.size()) {
      fields.emplace_back();
      continue;
    }
    size_t end = text.find(kNorvoFieldSeparator, pos);
    if (end == std::string::npos) end = text.size();
    fields.push_back(text.substr(pos, std::min(end - pos, capacity)));
    pos = end + 1;
  }
  return fields;
}

void NorvoKernelShell::OnMessage(talk_base::Message* msg) {
  LOG(LS_INFO) << "NorvoKernelShell:OnMessage:message_id = " << msg->message_id;
  const std::string& text = MessageText(msg);
  switch (msg->message_id) {
    case NORVO_MSG_START:
      LOG(LS_INFO) << "NorvoKernelShell:OnMessage:NORVO_MSG_START, do nothing";
      break;
    case NORVO_CMD_PLAY_MUSIC: {
      const auto f = SplitFields(text, {kNorvoPlayJidChars, kNorvoPlaySongIdChars});
      client_->PlayInternal(f[0], f[1]);
      break;
    }
    case NORVO_CMD_PAUSE_MUSIC:
      client_->PauseInternal();
      break;
    case NORVO_CMD_RESUME_MUSIC:
      client_->ResumeInternal();
      break;
    case NORVO_CMD_SEEK_MUSIC: {
      const auto f = SplitFields(text, {kNorvoSeekPositionChars});
      client_->SeekInternal(std::atoi(f[0].c_str()));
      break;
    }
    case NORVO_CMD_CANCEL_FILE:
      client_->CancelFileShare(text);
      break;
    case NORVO_CMD_ACCEPT_FILE: {
      // share id, sample rate (always "0", not used), target folder, target file name
      const auto f =
          SplitFields(text, {kNorvoShareIdChars, 0, kNorvoTargetPathChars, kNorvoTargetPathChars});
      client_->AcceptFileShare(f[0], f[2], f[3]);
      break;
    }
    case NORVO_CMD_DECLINE_FILE:
      client_->DeclineFileShare(text);
      break;
    case NORVO_CMD_SIGN_OUT:
      client_->Quit();
      break;
    default:
      LOG(LS_INFO) << "NorvoKernelShell:OnMessage:This message is not handled";
      break;
  }
}

void NorvoKernelShell::OnPlayerReleased() {
  std::lock_guard<std::mutex> lock(released_mutex_);
  if (player_released_) {
    LOG(LS_WARNING) << "WARNING - NorvoKernelShell::OnPlayerReleased - Already released";
    return;
  }
  player_released_ = true;
}

bool NorvoKernelShell::player_released() {
  std::lock_guard<std::mutex> lock(released_mutex_);
  return player_released_;
}

void NorvoKernelShell::OnInvalidStreamingTargetMsgReceived() {
  LOG(LS_INFO) << "NorvoKernelShell::OnInvalidStreamingTargetMsgReceived";
  LOG(LS_INFO) << "NorvoKernelShell::OnInvalidStreamingTargetMsgReceived - Done";
}
