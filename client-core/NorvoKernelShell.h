// The command shell: turns host commands into messages on the client thread, so that every
// command runs on the thread that owns the XMPP client and the streaming sessions.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "messaging/base/messagequeue.h"
#include "messaging/base/thread.h"
#include "messaging/sigslot/sigslot.h"

class NorvoCoreClient;

// Command codes; the same number is the message id posted to the client thread.
enum NorvoCommand {
  NORVO_MSG_START = 0,
  NORVO_CMD_ACCEPT_CALL = 3,
  NORVO_CMD_REJECT_CALL = 4,
  NORVO_CMD_HANG_UP = 5,
  NORVO_CMD_PLACE_VOICE_CALL_TO_REMOTE_TARGET = 6,
  NORVO_CMD_PLACE_VIDEO_CALL_TO_REMOTE_TARGET = 7,
  NORVO_CMD_SEND_FILE = 8,
  NORVO_CMD_PLAY_MUSIC = 9,
  NORVO_CMD_PAUSE_MUSIC = 10,
  NORVO_CMD_RESUME_MUSIC = 11,
  NORVO_CMD_SEEK_MUSIC = 12,
  NORVO_CMD_CANCEL_FILE = 13,
  NORVO_CMD_ACCEPT_FILE = 14,
  NORVO_CMD_DECLINE_FILE = 15,
  NORVO_CMD_SIGN_OUT = 16,
};

// Separates the fields of a command's parameter text (ASCII file separator).
constexpr char kNorvoFieldSeparator = '\x1C';

// Field capacities of the parameter texts, in characters; longer fields are cut to these.
constexpr size_t kNorvoPlayJidChars = 255;
constexpr size_t kNorvoPlaySongIdChars = 255;
constexpr size_t kNorvoSeekPositionChars = 23;
constexpr size_t kNorvoShareIdChars = 53;
constexpr size_t kNorvoTargetPathChars = 63;

// The name of a command code ("NORVO_CMD_SIGN_OUT", ...); null for an unknown code.
const char* NorvoCommandName(int command);

class NorvoKernelShell : public talk_base::MessageHandler, public sigslot::has_slots<> {
 public:
  // `client_thread` is the thread that runs the core client's loop; neither is owned.
  NorvoKernelShell(talk_base::Thread* client_thread, NorvoCoreClient* client);
  ~NorvoKernelShell() override;
  NorvoKernelShell(const NorvoKernelShell&) = delete;
  NorvoKernelShell& operator=(const NorvoKernelShell&) = delete;

  void Start();
  // Stops the console thread and detaches from the client thread: commands handed over from
  // now on are dropped, and those still queued are never delivered.
  void Stop();

  // Any thread. Posts the command to the client thread and returns at once; an unknown code is
  // a programming error and ends the process. `parameter` may be null (no parameter).
  void OnNorvoCommandReceived(int command, const char* parameter);

  void OnMessage(talk_base::Message* msg) override;

  // Slot of the stream session client's player-released signal.
  void OnPlayerReleased();
  bool player_released();
  // Slot of the hub result task's invalid-target signal.
  void OnInvalidStreamingTargetMsgReceived();

  // Splits `text` at the field separator into one field per capacity, each cut to its capacity
  // (a cut field still ends at its separator, so later fields keep their place). Missing fields
  // are empty.
  static std::vector<std::string> SplitFields(const std::string& text,
                                              const std::vector<size_t>& capacities);

 private:
  NorvoCoreClient* client_;
  talk_base::Thread console_thread_;
  bool started_ = false;

  // Guards client_thread_, which Stop clears while other threads may be handing over commands.
  std::mutex post_mutex_;
  talk_base::Thread* client_thread_;

  std::mutex released_mutex_;
  bool player_released_ = false;
};
