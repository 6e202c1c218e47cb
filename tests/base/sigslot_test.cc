#include "messaging/sigslot/sigslot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace sigslot {
namespace {

// Writes every call into a shared log as "name:args".
class Receiver : public has_slots<> {
 public:
  Receiver(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}

  void On0() { Add(""); }
  void On1(int a) { Add(std::to_string(a)); }
  void On2(int a, const std::string& b) { Add(std::to_string(a) + b); }
  void On3(int a, int b, int c) { Add(Join({a, b, c})); }
  void On4(int a, int b, int c, int d) { Add(Join({a, b, c, d})); }
  void On5(int a, int b, int c, int d, int e) { Add(Join({a, b, c, d, e})); }
  void On6(int a, int b, int c, int d, int e, int f) { Add(Join({a, b, c, d, e, f})); }
  void OnRef(std::string& out) { out += name_; }

 protected:
  void Add(const std::string& args) { log_->push_back(name_ + ":" + args); }

 private:
  static std::string Join(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += std::to_string(v);
    return s;
  }
  std::vector<std::string>* log_;
  std::string name_;
};

TEST(SigslotTest, DeliversEveryArityToEveryReceiverInConnectionOrder) {
  std::vector<std::string> log;
  Receiver a(&log, "a"), b(&log, "b");
  signal0<> s0;
  signal1<int> s1;
  signal2<int, const std::string&> s2;
  signal3<int, int, int> s3;
  signal4<int, int, int, int> s4;
  signal5<int, int, int, int, int> s5;
  signal6<int, int, int, int, int, int> s6;
  s0.connect(&a, &Receiver::On0);
  s0.connect(&b, &Receiver::On0);
  s1.connect(&b, &Receiver::On1);
  s1.connect(&a, &Receiver::On1);
  s2.connect(&a, &Receiver::On2);
  s3.connect(&a, &Receiver::On3);
  s4.connect(&a, &Receiver::On4);
  s5.connect(&a, &Receiver::On5);
  s6.connect(&a, &Receiver::On6);
  s0();
  s1(7);
  s2.emit(2, "x");
  s3(1, 2, 3);
  s4(1, 2, 3, 4);
  s5(1, 2, 3, 4, 5);
  s6(1, 2, 3, 4, 5, 6);
  EXPECT_EQ(log, (std::vector<std::string>{"a:", "b:", "b:7", "a:7", "a:2x", "a:123", "a:1234",
                                           "a:12345", "a:123456"}));
  EXPECT_EQ(s1.slot_count(), 2u);

  // Reference arguments reach the slots as references.
  signal1<std::string&> by_ref;
  by_ref.connect(&a, &Receiver::OnRef);
  by_ref.connect(&b, &Receiver::OnRef);
  std::string out;
  by_ref(out);
  EXPECT_EQ(out, "ab");
}

TEST(SigslotTest, InheritedMethodsConnect) {
  struct Derived : Receiver {
    using Receiver::Receiver;
  };
  std::vector<std::string> log;
  Derived d(&log, "d");
  signal1<int> s;
  s.connect(&d, &Receiver::On1);
  s(3);
  EXPECT_EQ(log, std::vector<std::string>{"d:3"});
}

TEST(SigslotTest, DisconnectRemovesEveryConnectionOfOneReceiver) {
  std::vector<std::string> log;
  Receiver a(&log, "a"), b(&log, "b");
  signal1<int> s;
  s.connect(&a, &Receiver::On1);
  s.connect(&b, &Receiver::On1);
  s.connect(&a, &Receiver::On1);
  s.disconnect(&a);
  s(1);
  EXPECT_EQ(log, std::vector<std::string>{"b:1"});
  s.disconnect(&a);  // not connected any more: nothing happens
  s.disconnect_all();
  EXPECT_TRUE(s.is_empty());
  s(2);
  EXPECT_EQ(log.size(), 1u);
  // A receiver can connect again after being disconnected.
  s.connect(&a, &Receiver::On1);
  s(3);
  EXPECT_EQ(log.back(), "a:3");
}

TEST(SigslotTest, DestroyingEitherSideDisconnects) {
  std::vector<std::string> log;
  signal1<int> s;
  {
    Receiver gone(&log, "gone");
    s.connect(&gone, &Receiver::On1);
    EXPECT_EQ(s.slot_count(), 1u);
  }
  EXPECT_TRUE(s.is_empty());
  s(1);  // would call into the destroyed receiver otherwise
  EXPECT_TRUE(log.empty());

  // A receiver outliving its signals does not reach back into them when it goes.
  auto receiver = std::make_unique<Receiver>(&log, "r");
  {
    signal0<> short_lived;
    signal1<int> other;
    short_lived.connect(receiver.get(), &Receiver::On0);
    other.connect(receiver.get(), &Receiver::On1);
  }
  receiver.reset();

  // has_slots::disconnect_all leaves every signal.
  Receiver r(&log, "r");
  signal0<> s0;
  s0.connect(&r, &Receiver::On0);
  s.connect(&r, &Receiver::On1);
  r.disconnect_all();
  EXPECT_TRUE(s0.is_empty());
  EXPECT_TRUE(s.is_empty());

  // A copy of a receiver starts with no connections of its own.
  Receiver original(&log, "o");
  s.connect(&original, &Receiver::On1);
  {
    Receiver copy(original);
    EXPECT_EQ(s.slot_count(), 1u);
  }
  s(5);
  EXPECT_EQ(log, std::vector<std::string>{"o:5"});
}

// A receiver that acts on the signal (or on other receivers) from inside its slot.
class Actor : public Receiver {
 public:
  using Receiver::Receiver;
  std::function<void()> action;
  void Act(int a) {
    Add(std::to_string(a));
    if (action) action();
  }
};

TEST(SigslotTest, SlotsMayChangeConnectionsWhileTheSignalEmits) {
  struct Case {
    const char* name;
    // What the first receiver does during the first emission.
    std::function<void(signal1<int>&, Actor& first, std::unique_ptr<Actor>& second, Actor& third)>
        act;
    std::vector<std::string> first_emit;
    std::vector<std::string> second_emit;
  };
  const Case kCases[] = {
      {"disconnects a later receiver",
       [](signal1<int>& s, Actor&, std::unique_ptr<Actor>& second, Actor&) {
         s.disconnect(second.get());
       },
       {"1:1", "3:1"},
       {"1:2", "3:2"}},
      {"disconnects itself",
       [](signal1<int>& s, Actor& first, std::unique_ptr<Actor>&, Actor&) { s.disconnect(&first); },
       {"1:1", "2:1", "3:1"},
       {"2:2", "3:2"}},
      {"destroys a later receiver",
       [](signal1<int>&, Actor&, std::unique_ptr<Actor>& second, Actor&) { second.reset(); },
       {"1:1", "3:1"},
       {"1:2", "3:2"}},
      {"connects another receiver",
       [](signal1<int>& s, Actor&, std::unique_ptr<Actor>&, Actor& third) {
         s.connect(&third, &Actor::Act);
       },
       {"1:1", "2:1", "3:1"},  // the new connection waits for the next emission
       {"1:2", "2:2", "3:2", "3:2"}},
      {"disconnects everything",
       [](signal1<int>& s, Actor&, std::unique_ptr<Actor>&, Actor&) { s.disconnect_all(); },
       {"1:1"},
       {}},
  };
  for (const Case& c : kCases) {
    std::vector<std::string> log;
    signal1<int> s;
    Actor first(&log, "1");
    auto second = std::make_unique<Actor>(&log, "2");
    Actor third(&log, "3");
    s.connect(&first, &Actor::Act);
    s.connect(second.get(), &Actor::Act);
    s.connect(&third, &Actor::Act);
    bool done = false;
    first.action = [&] {
      if (!done) c.act(s, first, second, third);
      done = true;
    };
    s(1);
    EXPECT_EQ(log, c.first_emit) << c.name;
    log.clear();
    s(2);
    EXPECT_EQ(log, c.second_emit) << c.name;
  }
}

TEST(SigslotTest, ASlotMayDestroyTheSignalOrItselfWhileItEmits) {
  std::vector<std::string> log;
  auto s = std::make_unique<signal1<int>>();
  Actor first(&log, "1"), second(&log, "2");
  s->connect(&first, &Actor::Act);
  s->connect(&second, &Actor::Act);
  first.action = [&] { s.reset(); };
  (*s)(1);
  EXPECT_EQ(log, std::vector<std::string>{"1:1"});
  EXPECT_EQ(s, nullptr);

  log.clear();
  signal1<int> t;
  auto self = std::make_unique<Actor>(&log, "self");
  Actor after(&log, "after");
  t.connect(self.get(), &Actor::Act);
  t.connect(&after, &Actor::Act);
  self->action = [&] { self.reset(); };
  t(1);
  t(2);
  EXPECT_EQ(log, (std::vector<std::string>{"self:1", "after:1", "after:2"}));
}

}  // namespace
}  // namespace sigslot
