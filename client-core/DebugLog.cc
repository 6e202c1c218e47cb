#include "client-core/DebugLog.h"

#include <ctime>

#include "messaging/base/logging.h"

namespace {

// The local time as asctime writes it, without its newline.
std::string AscTimeNow() {
  time_t now = ::time(nullptr);
  struct tm tm;
  ::localtime_r(&now, &tm);
  char buf[64];  // asctime_r needs 26 bytes
  if (!::asctime_r(&tm, buf)) return std::string();
  std::string text(buf);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void WriteIndented(int indent, const std::string& pending, size_t from, size_t to) {
  LOG(LS_WARNING) << std::string(indent > 0 ? static_cast<size_t>(indent) : 0, ' ')
                  << std::string_view(pending).substr(from, to - from);
}

}  // namespace

DebugLog& DebugLog::Instance() {
  static DebugLog* instance = new DebugLog;  // never destroyed: the client may log during exit
  return *instance;
}

void DebugLog::Input(const char* data, int len) { Print(input_, data, len, false); }

void DebugLog::Output(const char* data, int len) { Print(output_, data, len, true); }

void DebugLog::Clear() {
  input_.clear();
  output_.clear();
}

void DebugLog::Print(std::string& pending, const char* data, int len, bool sent) {
  // Traffic lines are warnings: below that level nothing is kept or built.
  if (!talk_base::LogMessage::Loggable(talk_base::LS_WARNING)) {
    pending.clear();
    return;
  }
  if (data && len > 0) pending.append(data, static_cast<size_t>(len));
  if (pending.empty()) return;

  LOG(LS_WARNING) << (sent ? "SEND >>>>>>>>>>>>>>>>" : "RECV <<<<<<<<<<<<<<<<") << " : "
                  << AscTimeNow();

  // Indentation restarts for every piece: it shows the nesting within the piece only.
  int indent = 3;
  size_t start = 0;
  for (size_t i = 0; i < pending.size(); ++i) {
    char c = pending[i];
    if (c == '>') {
      bool opens = false;
      if (i > 0 && pending[i - 1] == '/') {
        // self-closing: the nesting does not change
      } else if (start + 1 < pending.size() && pending[start] == '<' && pending[start + 1] == '/') {
        indent -= 2;
      } else {
        opens = true;
      }
      WriteIndented(indent, pending, start, i + 1);
      if (opens) indent += 2;
      start = i + 1;
    } else if (c == '<' && start < i) {
      WriteIndented(indent, pending, start, i);
      start = i;
    }
  }
  pending.erase(0, start);

  if (pending.size() > kMaxPending) {
    WriteIndented(indent, pending, 0, pending.size());
    pending.clear();
  }
}
