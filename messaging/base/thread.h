// Threads with a message queue and an Asio event loop.
//
// A Thread runs one loop that serves posted messages, delayed messages, and whatever sockets
// and timers the owner places on its io_context(). Posting is safe from any thread; delivery
// happens on the loop's thread, in posting order for immediate messages and in deadline order
// (posting order for equal deadlines) for delayed ones. Messages still pending when the loop
// ends are freed, never delivered. Clear(handler) drops a handler's pending messages, which a
// handler must do before it is destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "messaging/base/messagequeue.h"

namespace asio {
class io_context;
}

namespace talk_base {

class Thread {
 public:
  Thread();
  virtual ~Thread();  // stops and joins a started thread
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The name is used in logs; `obj` (may be null) is appended as an address. False while the
  // loop runs.
  bool SetName(const std::string& name, const void* obj);
  const std::string& name() const { return name_; }

  // Starts a new system thread that runs the loop. False when already started.
  bool Start();
  // Quits the loop and joins the system thread (no-op when not started or on that thread).
  void Stop();
  // Runs the loop on the calling thread, which becomes this Thread, until Quit.
  virtual void Run();
  // Asks the loop to end after the message being delivered; safe from any thread.
  void Quit();
  bool IsQuitting() const { return quitting_.load(); }
  // Allows Run to be called again after Quit.
  void Restart();

  // True on the thread that runs (or will run) this loop.
  bool IsCurrent() const;

  // `pdata` (may be null) is owned by the message from here on. A loop that is quitting takes
  // no new messages: they are freed at once.
  void Post(MessageHandler* phandler, uint32_t id = 0, MessageData* pdata = nullptr);
  void PostDelayed(int delay_ms, MessageHandler* phandler, uint32_t id = 0,
                   MessageData* pdata = nullptr);
  // Drops pending messages of `phandler` (all of them, or those with `id`; a null `phandler`
  // matches every handler) and frees their payloads. Safe from any thread; a message being
  // delivered at that moment on another thread completes first.
  void Clear(MessageHandler* phandler, uint32_t id = MQID_ANY);
  // Delivers the message on this thread and waits until the handler returns. Called on this
  // thread it runs at once. Returns false (and frees pdata) if the loop is not running.
  bool Send(MessageHandler* phandler, uint32_t id = 0, MessageData* pdata = nullptr);
  // Number of pending messages (immediate and delayed).
  size_t size() const;

  // The loop's event loop, for sockets and timers that run on this thread.
  asio::io_context& io_context();

  static Thread* Current();

 protected:
  struct Impl;
  std::unique_ptr<Impl> impl_;

 private:
  std::string name_;
  std::atomic<bool> quitting_{false};
};

// Makes the calling system thread the current Thread for its lifetime (the messaging layer's
// wrapper of a thread it did not create). Run() then serves its messages on that thread.
class AutoThread : public Thread {
 public:
  AutoThread();
  ~AutoThread() override;
};

// The desktop name of the same wrapper.
using Win32Thread = AutoThread;

class ThreadManager {
 public:
  static Thread* CurrentThread();
  static void SetCurrent(Thread* thread);
};

}  // namespace talk_base
