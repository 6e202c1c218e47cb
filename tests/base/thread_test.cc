#include "messaging/base/thread.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace talk_base {
namespace {

// A payload that counts its destructions, to see that every message frees what it owns.
class Counted : public MessageData {
 public:
  explicit Counted(std::atomic<int>* freed, int value = 0) : freed_(freed), value_(value) {}
  ~Counted() override { ++*freed_; }
  int value() const { return value_; }

 private:
  std::atomic<int>* freed_;
  int value_;
};

constexpr uint32_t kQuit = 999;

// Records what it receives (on the loop's thread) and quits the loop on kQuit or when the
// expected number of messages has arrived.
class Recorder : public MessageHandler {
 public:
  explicit Recorder(Thread* thread, size_t quit_after = 0)
      : thread_(thread), quit_after_(quit_after) {}

  void OnMessage(Message* msg) override {
    std::lock_guard<std::mutex> lock(mu_);
    ids_.push_back(msg->message_id);
    if (auto* counted = dynamic_cast<Counted*>(msg->pdata.get()))
      values_.push_back(counted->value());
    threads_.push_back(Thread::Current());
    if (msg->message_id == kQuit || (quit_after_ > 0 && ids_.size() == quit_after_)) {
      thread_->Quit();
    }
  }
  std::vector<uint32_t> ids() const {
    std::lock_guard<std::mutex> lock(mu_);
    return ids_;
  }
  std::vector<int> values() const {
    std::lock_guard<std::mutex> lock(mu_);
    return values_;
  }
  std::vector<Thread*> threads() const {
    std::lock_guard<std::mutex> lock(mu_);
    return threads_;
  }

 private:
  Thread* thread_;
  size_t quit_after_;
  mutable std::mutex mu_;
  std::vector<uint32_t> ids_;
  std::vector<int> values_;
  std::vector<Thread*> threads_;
};

TEST(ThreadTest, KeepsEachPostersOrderAcrossThreads) {
  Thread thread;
  ASSERT_TRUE(thread.Start());
  Recorder recorder(&thread);
  std::atomic<int> freed{0};
  constexpr int kPosters = 4, kEach = 500;
  std::vector<std::thread> posters;
  for (int p = 0; p < kPosters; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) thread.Post(&recorder, p, new Counted(&freed, i));
    });
  }
  for (auto& t : posters) t.join();
  // Send waits behind everything posted before it.
  ASSERT_TRUE(thread.Send(&recorder, 100));

  const std::vector<uint32_t> ids = recorder.ids();
  const std::vector<int> values = recorder.values();
  ASSERT_EQ(ids.size(), size_t{kPosters * kEach + 1});
  EXPECT_EQ(ids.back(), 100u);
  std::vector<int> next(kPosters, 0);
  for (size_t i = 0; i + 1 < ids.size(); ++i) {
    ASSERT_LT(ids[i], uint32_t{kPosters});
    EXPECT_EQ(values[i], next[ids[i]]++) << "poster " << ids[i];
  }
  for (Thread* t : recorder.threads()) EXPECT_EQ(t, &thread);
  EXPECT_EQ(freed.load(), kPosters * kEach);
  thread.Stop();
}

TEST(ThreadTest, DelayedMessagesComeInDeadlineOrder) {
  AutoThread thread;
  struct Delayed {
    int delay_ms;
    uint32_t id;
  };
  // Posted in this order; equal delays keep the order they were posted in.
  const Delayed kPosts[] = {{60, 6}, {20, 3}, {0, 1}, {40, 5}, {20, 4}, {0, 2}};
  Recorder recorder(&thread, std::size(kPosts) + 1);
  for (const Delayed& d : kPosts) thread.PostDelayed(d.delay_ms, &recorder, d.id);
  thread.Post(&recorder, 0);  // an immediate message goes ahead of every delayed one
  EXPECT_EQ(thread.size(), std::size(kPosts) + 1);
  thread.Run();
  EXPECT_EQ(recorder.ids(), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(thread.size(), 0u);
}

TEST(ThreadTest, DelayedPostedFromOtherThreadsWhileTheLoopWaits) {
  // The loop is already asleep on a far deadline when an earlier one arrives from elsewhere.
  Thread thread;
  ASSERT_TRUE(thread.Start());
  Recorder recorder(&thread);
  std::promise<void> done;
  struct Notify : MessageHandler {
    std::promise<void>* done;
    void OnMessage(Message*) override { done->set_value(); }
  } notify;
  notify.done = &done;
  thread.PostDelayed(3600 * 1000, &recorder, 1);
  std::thread([&] { thread.PostDelayed(10, &notify); }).join();
  done.get_future().wait();
  EXPECT_TRUE(recorder.ids().empty());
  EXPECT_EQ(thread.size(), 1u);
  thread.Stop();
}

TEST(ThreadTest, ClearDropsOnlyTheMatchingMessages) {
  struct Case {
    const char* name;
    bool clear_all_handlers;  // Clear(nullptr)
    uint32_t id;
    std::vector<uint32_t> a_gets;
    std::vector<uint32_t> b_gets;
  };
  const Case kCases[] = {
      {"every message of a", false, MQID_ANY, {}, {1, 2}},
      {"one id of a", false, 2, {1, 3}, {1, 2}},
      {"every handler", true, MQID_ANY, {}, {}},
  };
  for (const Case& c : kCases) {
    AutoThread thread;
    Recorder a(&thread), b(&thread);
    std::atomic<int> freed{0};
    thread.Post(&a, 1, new Counted(&freed));
    thread.Post(&b, 1, new Counted(&freed));
    thread.PostDelayed(5, &a, 2, new Counted(&freed));
    thread.Post(&b, 2, new Counted(&freed));
    thread.PostDelayed(1, &a, 3, new Counted(&freed));
    thread.Clear(c.clear_all_handlers ? nullptr : &a, c.id);
    const int dropped = 5 - static_cast<int>(c.a_gets.size() + c.b_gets.size());
    EXPECT_EQ(freed.load(), dropped) << c.name << ": dropped payloads are freed at once";
    EXPECT_EQ(thread.size(), size_t(5 - dropped)) << c.name;

    Recorder quitter(&thread);
    thread.PostDelayed(20, &quitter, kQuit);
    thread.Run();
    EXPECT_EQ(a.ids(), c.a_gets) << c.name;
    EXPECT_EQ(b.ids(), c.b_gets) << c.name;
    EXPECT_EQ(freed.load(), 5) << c.name;
  }
}

// A handler that may be deleted right after Clear: any later delivery would touch freed memory
// (which the sanitizer build reports) and trips the flag in any build.
class Fragile : public MessageHandler {
 public:
  explicit Fragile(std::atomic<bool>* delivered_after_clear) : late_(delivered_after_clear) {}
  ~Fragile() override { cleared_ = true; }
  void OnMessage(Message*) override {
    if (cleared_) *late_ = true;
    // Stay busy a little, so Clear often arrives while a delivery is under way.
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    ++delivered_;
  }
  std::atomic<bool> cleared_{false};
  std::atomic<int> delivered_{0};

 private:
  std::atomic<bool>* late_;
};

TEST(ThreadTest, NothingReachesAHandlerAfterClearFromAnotherThread) {
  Thread thread;
  ASSERT_TRUE(thread.Start());
  std::atomic<bool> late{false};
  for (int round = 0; round < 50; ++round) {
    auto handler = std::make_unique<Fragile>(&late);
    for (int i = 0; i < 20; ++i) thread.Post(handler.get(), i);
    thread.PostDelayed(1, handler.get(), 100);
    while (handler->delivered_.load() == 0 && round % 2 == 0) std::this_thread::yield();
    thread.Clear(handler.get());
    handler.reset();
  }
  Recorder sync(&thread);
  ASSERT_TRUE(thread.Send(&sync));
  EXPECT_FALSE(late.load());
  thread.Stop();
}

TEST(ThreadTest, ClearWaitsForADeliveryUnderWay) {
  Thread thread;
  ASSERT_TRUE(thread.Start());
  struct Slow : MessageHandler {
    std::promise<void> started;
    std::atomic<bool> finished{false};
    void OnMessage(Message*) override {
      started.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      finished = true;
    }
  } slow;
  thread.Post(&slow);
  slow.started.get_future().wait();
  thread.Clear(&slow);
  EXPECT_TRUE(slow.finished.load());
  thread.Stop();
}

TEST(ThreadTest, PendingMessagesAreFreedNotDeliveredWhenTheLoopEnds) {
  std::atomic<int> freed{0};
  AutoThread thread;
  Recorder recorder(&thread);
  thread.Post(&recorder, kQuit, new Counted(&freed));
  thread.Post(&recorder, 1, new Counted(&freed));
  thread.Post(&recorder, 2, new Counted(&freed));
  thread.PostDelayed(0, &recorder, 3, new Counted(&freed));
  thread.PostDelayed(3600 * 1000, &recorder, 4, new Counted(&freed));
  thread.Run();
  // Quit takes effect after the message being delivered: nothing else arrives.
  EXPECT_EQ(recorder.ids(), std::vector<uint32_t>{kQuit});
  EXPECT_EQ(freed.load(), 5);
  EXPECT_EQ(thread.size(), 0u);
  // A loop that has ended takes no new messages: they are freed at once.
  thread.Post(&recorder, 5, new Counted(&freed));
  thread.PostDelayed(10, &recorder, 6, new Counted(&freed));
  EXPECT_EQ(freed.load(), 7);
  EXPECT_EQ(thread.size(), 0u);
}

TEST(ThreadTest, PendingMessagesAreFreedWhenAThreadIsDestroyed) {
  std::atomic<int> freed{0};
  Recorder recorder(nullptr);
  {
    Thread never_started;
    never_started.Post(&recorder, 1, new Counted(&freed));
    never_started.PostDelayed(10, &recorder, 2, new Counted(&freed));
  }
  EXPECT_EQ(freed.load(), 2);
  EXPECT_TRUE(recorder.ids().empty());
}

TEST(ThreadTest, SendRunsOnTheLoopAndWaits) {
  Thread thread;
  ASSERT_TRUE(thread.SetName("sender test", nullptr));
  ASSERT_TRUE(thread.Start());
  EXPECT_FALSE(thread.Start());
  EXPECT_FALSE(thread.IsCurrent());

  struct Nested : MessageHandler {
    Thread* thread = nullptr;
    std::vector<std::string> log;
    void OnMessage(Message* msg) override {
      auto* text = static_cast<TypedMessageData<std::string>*>(msg->pdata.get());
      log.push_back(text->data() + (thread->IsCurrent() ? " on loop" : " elsewhere"));
      if (msg->message_id == 1) {
        // On its own thread Send runs at once instead of waiting on itself.
        EXPECT_TRUE(thread->Send(this, 2, new TypedMessageData<std::string>("inner")));
        log.push_back("after inner");
      }
    }
  } nested;
  nested.thread = &thread;
  EXPECT_TRUE(thread.Send(&nested, 1, new TypedMessageData<std::string>("outer")));
  EXPECT_EQ(nested.log,
            (std::vector<std::string>{"outer on loop", "inner on loop", "after inner"}));
  thread.Stop();

  // A stopped loop refuses and frees the payload.
  std::atomic<int> freed{0};
  Recorder recorder(&thread);
  EXPECT_FALSE(thread.Send(&recorder, 1, new Counted(&freed)));
  EXPECT_EQ(freed.load(), 1);
  EXPECT_TRUE(recorder.ids().empty());
}

TEST(ThreadTest, SendReturnsWhenTheLoopEndsFirst) {
  // The loop quits on the message ahead; the sender is released with false, not left waiting.
  for (int round = 0; round < 20; ++round) {
    Thread thread;
    ASSERT_TRUE(thread.Start());
    Recorder recorder(&thread);
    std::atomic<int> freed{0};
    thread.Post(&recorder, kQuit);
    EXPECT_FALSE(thread.Send(&recorder, 1, new Counted(&freed)));
    EXPECT_EQ(freed.load(), 1);
    EXPECT_EQ(recorder.ids(), std::vector<uint32_t>{kQuit});
  }
}

TEST(ThreadTest, HandlersMayPostClearAndQuitFromOnMessage) {
  AutoThread thread;
  struct Chain : MessageHandler {
    Thread* thread = nullptr;
    std::vector<uint32_t> ids;
    void OnMessage(Message* msg) override {
      ids.push_back(msg->message_id);
      switch (msg->message_id) {
        case 2:
          thread->Clear(this);  // drops 3, 4 and the delayed 5
          thread->Post(this, 10);
          break;
        case 10:
          thread->PostDelayed(1, this, 11);
          break;
        case 11:
          thread->Quit();
          thread->Post(this, 12);  // too late: freed, not delivered
          break;
      }
    }
  } chain;
  chain.thread = &thread;
  for (uint32_t id = 1; id <= 4; ++id) thread.Post(&chain, id);
  thread.PostDelayed(1, &chain, 5);
  thread.Run();
  EXPECT_EQ(chain.ids, (std::vector<uint32_t>{1, 2, 10, 11}));
}

TEST(ThreadTest, CurrentFollowsTheWrappersAndStartedThreads) {
  Thread* const outer = Thread::Current();
  {
    AutoThread first;
    EXPECT_EQ(Thread::Current(), &first);
    EXPECT_EQ(ThreadManager::CurrentThread(), &first);
    EXPECT_TRUE(first.IsCurrent());
    {
      Win32Thread second;
      EXPECT_EQ(Thread::Current(), &second);
      EXPECT_FALSE(first.IsCurrent());
    }
    EXPECT_EQ(Thread::Current(), &first);

    Thread worker;
    ASSERT_TRUE(worker.Start());
    Recorder recorder(&worker);
    ASSERT_TRUE(worker.Send(&recorder));
    EXPECT_EQ(recorder.threads(), std::vector<Thread*>{&worker});
    EXPECT_EQ(Thread::Current(), &first);
  }
  EXPECT_EQ(Thread::Current(), outer);
}

TEST(ThreadTest, ServesAsioWorkOnTheLoopThread) {
  Thread thread;
  ASSERT_TRUE(thread.Start());
  std::promise<Thread*> ran_on;
  asio::steady_timer timer(thread.io_context(), std::chrono::milliseconds(5));
  timer.async_wait([&](const std::error_code& ec) {
    EXPECT_FALSE(ec);
    ran_on.set_value(Thread::Current());
  });
  EXPECT_EQ(ran_on.get_future().get(), &thread);
  thread.Stop();
}

TEST(ThreadTest, LoopsCanBeStartedAndStoppedAgainAndAgain) {
  Thread reused;
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(reused.Start()) << i;
    Recorder recorder(&reused);
    ASSERT_TRUE(reused.Send(&recorder, i)) << i;
    reused.Stop();
    EXPECT_EQ(recorder.ids(), std::vector<uint32_t>{uint32_t(i)});
  }
  for (int i = 0; i < 100; ++i) {
    Thread fresh;
    ASSERT_TRUE(fresh.Start());
    if (i % 2 == 0) fresh.Post(nullptr, 0, new TypedMessageData<int>(i));
  }  // the destructor stops and joins
  // The session pattern: a wrapper of the calling thread, run until a handler quits it.
  for (int i = 0; i < 100; ++i) {
    AutoThread session;
    Recorder recorder(&session);
    session.PostDelayed(i % 3, &recorder, kQuit);
    session.Run();
    ASSERT_EQ(recorder.ids(), std::vector<uint32_t>{kQuit}) << i;
    ASSERT_EQ(Thread::Current(), &session);
  }
  EXPECT_EQ(Thread::Current(), nullptr);
  AutoThread again;
  for (int i = 0; i < 3; ++i) {
    Recorder recorder(&again);
    again.Restart();
    again.Post(&recorder, kQuit);
    again.Run();
    EXPECT_EQ(recorder.ids(), std::vector<uint32_t>{kQuit}) << i;
    EXPECT_EQ(Thread::Current(), &again);
  }
}

TEST(ThreadTest, QuitFromAnotherThreadEndsRun) {
  AutoThread thread;
  std::thread quitter([&] { thread.Quit(); });
  quitter.join();
  thread.Run();  // returns at once: the Quit came first
  thread.Restart();
  Recorder recorder(&thread);
  thread.Post(&recorder, 1);
  std::thread later([&] {
    // Once the loop serves the message it is surely running; quit it from here.
    while (recorder.ids().empty()) std::this_thread::yield();
    thread.Quit();
  });
  thread.Run();
  later.join();
  EXPECT_EQ(recorder.ids(), std::vector<uint32_t>{1});
}

}  // namespace
}  // namespace talk_base
