#include "messaging/base/thread.h"

#include <pthread.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <map>
#include <optional>
#include <vector>

#include "messaging/base/logging.h"

namespace talk_base {

namespace {

thread_local Thread* g_current_thread = nullptr;

using Clock = std::chrono::steady_clock;

// A caller of Send waits on this until its message was delivered or dropped.
struct SendState {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  bool delivered = false;

  void Finish(bool was_delivered) {
    std::lock_guard<std::mutex> lock(mu);
    done = true;
    delivered = was_delivered;
    cv.notify_all();
  }
};

struct Pending {
  Message msg;
  std::shared_ptr<SendState> send;  // set for Send
};

bool Matches(const Message& msg, MessageHandler* phandler, uint32_t id) {
  return (phandler == nullptr || msg.phandler == phandler) &&
         (id == MQID_ANY || msg.message_id == id);
}

// Frees dropped messages (and releases their senders) outside every lock: a payload's
// destructor may well post to this thread again.
void Drop(std::vector<Pending>& dropped) {
  for (Pending& p : dropped) {
    p.msg.pdata.reset();
    if (p.send) p.send->Finish(false);
  }
  dropped.clear();
}

}  // namespace

struct Thread::Impl {
  explicit Impl(Thread* owner) : self(owner), timer(io) {}

  Thread* self;
  asio::io_context io;
  asio::steady_timer timer;  // touched on the loop's thread only

  std::mutex mu;
  std::condition_variable delivered_cv;
  std::deque<Pending> queue;
  // Delayed messages by (deadline, sequence): equal deadlines keep their posting order.
  std::map<std::pair<Clock::time_point, uint64_t>, Pending> delayed;
  uint64_t next_seq = 0;
  bool drain_scheduled = false;
  // The deadline the timer is (or is about to be) armed for; max() when idle.
  Clock::time_point armed = Clock::time_point::max();
  // The message being delivered right now, for Clear from other threads.
  bool delivering = false;
  MessageHandler* delivering_handler = nullptr;
  uint32_t delivering_id = 0;

  std::atomic<bool> running{false};
  std::atomic<std::thread::id> loop_thread{};
  std::thread system_thread;
  // The thread that was current before an AutoThread took over, restored when it goes.
  Thread* wrapped_previous = nullptr;

  bool OnLoopThread() const { return loop_thread.load() == std::this_thread::get_id(); }

  // Called with mu held.
  void ScheduleDrainLocked() {
    if (drain_scheduled) return;
    drain_scheduled = true;
    asio::post(io, [this] { Drain(); });
  }

  // Delivers the messages queued at its start (new ones wait for the next round, so sockets
  // and timers on the same loop are served in between).
  void Drain() {
    size_t budget;
    {
      std::lock_guard<std::mutex> lock(mu);
      budget = queue.size();
    }
    while (budget-- > 0) {
      Pending p;
      {
        std::lock_guard<std::mutex> lock(mu);
        if (self->IsQuitting() || queue.empty()) break;
        p = std::move(queue.front());
        queue.pop_front();
        delivering = true;
        delivering_handler = p.msg.phandler;
        delivering_id = p.msg.message_id;
      }
      if (p.msg.phandler != nullptr) p.msg.phandler->OnMessage(&p.msg);
      p.msg.pdata.reset();
      {
        std::lock_guard<std::mutex> lock(mu);
        delivering = false;
        delivering_handler = nullptr;
        delivered_cv.notify_all();
      }
      if (p.send) p.send->Finish(true);
    }
    std::lock_guard<std::mutex> lock(mu);
    drain_scheduled = false;
    if (!queue.empty() && !self->IsQuitting()) ScheduleDrainLocked();
  }

  // Arms the timer for the earliest delayed message. Loop thread only.
  void ArmTimer() {
    Clock::time_point earliest;
    {
      std::lock_guard<std::mutex> lock(mu);
      if (delayed.empty()) {
        armed = Clock::time_point::max();
        return;
      }
      earliest = delayed.begin()->first.first;
      armed = earliest;
    }
    timer.expires_at(earliest);
    timer.async_wait([this](const std::error_code& ec) {
      if (ec == asio::error::operation_aborted) return;  // re-armed meanwhile
      OnTimer();
    });
  }

  // Moves the delayed messages that are due to the end of the queue, as posted messages.
  void OnTimer() {
    {
      std::lock_guard<std::mutex> lock(mu);
      const Clock::time_point now = Clock::now();
      bool moved = false;
      while (!delayed.empty() && delayed.begin()->first.first <= now) {
        queue.push_back(std::move(delayed.begin()->second));
        delayed.erase(delayed.begin());
        moved = true;
      }
      if (moved) ScheduleDrainLocked();
    }
    ArmTimer();
  }

  // Takes every pending message out, to be freed by the caller with Drop.
  std::vector<Pending> TakeAllLocked() {
    std::vector<Pending> out;
    out.reserve(queue.size() + delayed.size());
    for (Pending& p : queue) out.push_back(std::move(p));
    for (auto& entry : delayed) out.push_back(std::move(entry.second));
    queue.clear();
    delayed.clear();
    drain_scheduled = false;
    armed = Clock::time_point::max();
    return out;
  }

  void DropAll() {
    std::vector<Pending> dropped;
    {
      std::lock_guard<std::mutex> lock(mu);
      dropped = TakeAllLocked();
    }
    Drop(dropped);
  }
};

// ---------------------------------------------------------------------------------------------

Thread::Thread() : impl_(std::make_unique<Impl>(this)) {}

Thread::~Thread() {
  Quit();
  Stop();
  if (impl_->system_thread.joinable()) {
    // Only a thread that destroys its own Thread object gets here; it cannot join itself.
    LOG(LS_ERROR) << "Thread::~Thread - " << name_ << " destroyed on its own thread";
    impl_->system_thread.detach();
  }
  impl_->DropAll();
  if (g_current_thread == this) g_current_thread = nullptr;
}

bool Thread::SetName(const std::string& name, const void* obj) {
  if (impl_->running.load()) return false;
  name_ = name;
  if (obj != nullptr) {
    char address[32];
    snprintf(address, sizeof(address), " %p", obj);
    name_ += address;
  }
  return true;
}

bool Thread::Start() {
  if (impl_->system_thread.joinable() || impl_->running.load()) return false;
  Restart();
  impl_->running = true;
  std::promise<void> ready;
  std::future<void> is_ready = ready.get_future();
  impl_->system_thread = std::thread([this, ready = std::move(ready)]() mutable {
    ThreadManager::SetCurrent(this);
    impl_->loop_thread = std::this_thread::get_id();
    if (!name_.empty()) {
      // The kernel keeps 15 characters of a thread's name.
      pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    }
    ready.set_value();
    Run();
    ThreadManager::SetCurrent(nullptr);
  });
  is_ready.wait();
  return true;
}

void Thread::Stop() {
  if (!impl_->system_thread.joinable()) return;
  if (impl_->system_thread.get_id() == std::this_thread::get_id()) return;  // cannot join itself
  Quit();
  impl_->system_thread.join();
}

void Thread::Run() {
  Thread* previous = ThreadManager::CurrentThread();
  ThreadManager::SetCurrent(this);
  impl_->loop_thread = std::this_thread::get_id();
  impl_->running = true;
  impl_->io.restart();
  // Checked after restart(): a Quit that comes later stops the loop we are about to run.
  if (!IsQuitting()) {
    auto work = asio::make_work_guard(impl_->io);
    // Delayed messages posted before the loop ran need the timer armed on this thread.
    impl_->ArmTimer();
    impl_->io.run();
  }
  // Whatever is still pending is freed, never delivered.
  std::vector<Pending> dropped;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->running = false;
    dropped = impl_->TakeAllLocked();
  }
  Drop(dropped);
  ThreadManager::SetCurrent(previous);
}

void Thread::Quit() {
  quitting_ = true;
  impl_->io.stop();
}

void Thread::Restart() { quitting_ = false; }

bool Thread::IsCurrent() const { return ThreadManager::CurrentThread() == this; }

void Thread::Post(MessageHandler* phandler, uint32_t id, MessageData* pdata) {
  Pending p;
  p.msg.phandler = phandler;
  p.msg.message_id = id;
  p.msg.pdata.reset(pdata);
  std::lock_guard<std::mutex> lock(impl_->mu);
  // A loop that is ending takes nothing new (checked under the lock that its final clean-up
  // takes too, so nothing slips in behind it); pdata is freed with p.
  if (IsQuitting()) return;
  impl_->queue.push_back(std::move(p));
  impl_->ScheduleDrainLocked();
}

void Thread::PostDelayed(int delay_ms, MessageHandler* phandler, uint32_t id, MessageData* pdata) {
  Pending p;
  p.msg.phandler = phandler;
  p.msg.message_id = id;
  p.msg.pdata.reset(pdata);
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(std::max(0, delay_ms));
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (IsQuitting()) return;
  impl_->delayed.emplace(std::make_pair(deadline, impl_->next_seq++), std::move(p));
  if (deadline < impl_->armed) {
    // The timer belongs to the loop's thread: have it re-armed there.
    impl_->armed = deadline;
    asio::post(impl_->io, [impl = impl_.get()] { impl->ArmTimer(); });
  }
}

void Thread::Clear(MessageHandler* phandler, uint32_t id) {
  std::vector<Pending> dropped;
  {
    std::unique_lock<std::mutex> lock(impl_->mu);
    for (auto it = impl_->queue.begin(); it != impl_->queue.end();) {
      if (Matches(it->msg, phandler, id)) {
        dropped.push_back(std::move(*it));
        it = impl_->queue.erase(it);
      } else {
        ++it;
      }
    }
    for (auto it = impl_->delayed.begin(); it != impl_->delayed.end();) {
      if (Matches(it->second.msg, phandler, id)) {
        dropped.push_back(std::move(it->second));
        it = impl_->delayed.erase(it);
      } else {
        ++it;
      }
    }
    if (!impl_->OnLoopThread() && !IsCurrent()) {
      // The handler may be destroyed as soon as we return: let a delivery to it finish.
      impl_->delivered_cv.wait(lock, [&] {
        if (!impl_->delivering) return true;
        Message current;
        current.phandler = impl_->delivering_handler;
        current.message_id = impl_->delivering_id;
        return !Matches(current, phandler, id);
      });
    }
  }
  Drop(dropped);
}

bool Thread::Send(MessageHandler* phandler, uint32_t id, MessageData* pdata) {
  Pending p;
  p.msg.phandler = phandler;
  p.msg.message_id = id;
  p.msg.pdata.reset(pdata);
  if (IsCurrent() || impl_->OnLoopThread()) {
    if (phandler != nullptr) phandler->OnMessage(&p.msg);
    return true;
  }
  auto state = std::make_shared<SendState>();
  p.send = state;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    // `running` drops under this lock before the loop's final clean-up, so a message queued
    // here is either delivered or dropped by it, and this caller is always released.
    if (IsQuitting() || !impl_->running.load()) return false;
    impl_->queue.push_back(std::move(p));
    impl_->ScheduleDrainLocked();
  }
  // A loop that ends before the delivery drops the message and releases us.
  std::unique_lock<std::mutex> lock(state->mu);
  state->cv.wait(lock, [&] { return state->done; });
  return state->delivered;
}

size_t Thread::size() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->queue.size() + impl_->delayed.size();
}

asio::io_context& Thread::io_context() { return impl_->io; }

Thread* Thread::Current() { return g_current_thread; }

// ---------------------------------------------------------------------------------------------

AutoThread::AutoThread() {
  impl_->wrapped_previous = ThreadManager::CurrentThread();
  ThreadManager::SetCurrent(this);
  impl_->loop_thread = std::this_thread::get_id();
}

AutoThread::~AutoThread() {
  if (ThreadManager::CurrentThread() == this) ThreadManager::SetCurrent(impl_->wrapped_previous);
}

Thread* ThreadManager::CurrentThread() { return g_current_thread; }

void ThreadManager::SetCurrent(Thread* thread) { g_current_thread = thread; }

}  // namespace talk_base
