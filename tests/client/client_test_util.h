// Small helpers of the client tests: a log recorder, a private data folder, a host that records
// the core client's reports, and a window that records its events.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "client-core/NorvoGlobalContext.h"
#include "client-core/NorvoNativeInterface.h"
#include "client/NorvoNativeClientImplWin.h"
#include "client/NorvoUI.h"
#include "messaging/base/logging.h"
#include "tests/common/temp_dir.h"

namespace client_test {

// Records every log line while it lives.
class LogRecorder {
 public:
  LogRecorder() {
    talk_base::LogMessage::SetSink(
        [this](talk_base::LoggingSeverity, const std::string& line) {
          std::lock_guard<std::mutex> lock(mutex_);
          lines_.push_back(line);
          cv_.notify_all();
        },
        talk_base::LS_VERBOSE);
  }
  ~LogRecorder() { talk_base::LogMessage::SetSink(nullptr, talk_base::LS_NONE); }

  bool Contains(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& l : lines_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // Index of the first line holding `text`, or -1.
  int IndexOf(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].find(text) != std::string::npos) return static_cast<int>(i);
    }
    return -1;
  }
  void WaitFor(const std::string& text) const {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] {
      for (const auto& l : lines_) {
        if (l.find(text) != std::string::npos) return true;
      }
      return false;
    });
  }
  int Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& l : lines_) n += l.find(text) != std::string::npos;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<std::string> lines_;
};

// A private user data folder (the library database goes there), hub role.
class DataDir {
 public:
  DataDir() {
    NorvoGlobalContext::Init(NorvoAppRole_Hub);
    NorvoGlobalContext::SetAppUserDataDir((dir_.path() + "/").c_str());
  }
  const std::string& path() const { return dir_.path(); }

 private:
  norvo_test::TempDir dir_{"client"};
};

using Report = std::pair<int, int>;  // (client event, client state)

// Waits (without a deadline of its own: ctest's timeout ends a hung test) for a predicate over
// recorded values.
template <class T>
class Recorded {
 public:
  void Add(const T& v) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.push_back(v);
    cv_.notify_all();
  }
  std::vector<T> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
  }
  void WaitFor(const std::function<bool(const std::vector<T>&)>& done) const {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return done(values_); });
  }
  void WaitForValue(const T& v) const {
    WaitFor([&](const std::vector<T>& vs) {
      for (const auto& x : vs) {
        if (x == v) return true;
      }
      return false;
    });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<T> values_;
};

// The real desktop client, recording every state report before handling it.
class RecordingHost : public NorvoNativeClientImplWin {
 public:
  void OnClientStateChanged(norvo::_ClientEvent event, norvo::_ClientState state) override {
    reports.Add({event, state});
    if (on_report) on_report(event, state);
    NorvoNativeClientImplWin::OnClientStateChanged(event, state);
  }
  Recorded<Report> reports;
  // Runs on the reporting thread, before the desktop client's own handling.
  std::function<void(norvo::_ClientEvent, norvo::_ClientState)> on_report;
};

// A window that records the events it is given.
class RecordingUI : public NorvoUI {
 public:
  void OnUserEvent(int code) override { events.Add(code); }
  void OnRemoteDeviceActivity(_NorvoStreamingDevice*) override {}
  void OnRosterVCardReceived(const std::string&, const std::string&, const std::string&) override {}
  void OnRosterSubscriptionMsgReceived(_NorvoRosterSubscriptionMsg*) override {}
  Recorded<int> events;
};

}  // namespace client_test
