// Logger of the raw XMPP traffic: received and sent bytes are split into tags and texts and
// written one per warning line, indented by nesting, under a "RECV"/"SEND" header line.
//
// Bytes arrive in arbitrary pieces; whatever follows the last complete tag or text of a piece is
// held back and printed with the next piece of the same direction, so a stanza split across
// reads still comes out as whole tags. Used on the client thread only; takes no lock.
#pragma once

#include <string>

#include "messaging/sigslot/sigslot.h"

class DebugLog : public sigslot::has_slots<> {
 public:
  // A held-back tail longer than this is written out as it is and dropped, so a peer that never
  // closes a tag cannot make the log hold unbounded memory.
  static constexpr size_t kMaxPending = 1 << 20;

  // The process-wide instance the core client connects to the XMPP client's data signals.
  static DebugLog& Instance();

  DebugLog() = default;
  DebugLog(const DebugLog&) = delete;
  DebugLog& operator=(const DebugLog&) = delete;

  // Received bytes.
  void Input(const char* data, int len);
  // Sent bytes.
  void Output(const char* data, int len);

  // The tails held back for the next piece.
  const std::string& PendingInput() const { return input_; }
  const std::string& PendingOutput() const { return output_; }
  // Forgets both tails (a new connection starts a new stream).
  void Clear();

 private:
  static void Print(std::string& pending, const char* data, int len, bool sent);

  std::string input_;
  std::string output_;
};
