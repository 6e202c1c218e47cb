// Single-threaded signals and slots.
//
// A signal calls its connected slots at once, on the emitting thread, in the order they were
// connected. An object that receives signals derives from has_slots<>; when it is destroyed it
// disconnects itself from every signal it is connected to, and a signal that is destroyed
// disconnects itself from its receivers, so neither side ever calls into a dead object.
// A slot may disconnect itself or others, or connect new slots, while the signal is emitting:
// the emission walks a snapshot and skips receivers removed meanwhile.
#pragma once

#include <algorithm>
#include <functional>
#include <list>
#include <memory>
#include <set>
#include <type_traits>
#include <utility>
#include <vector>

namespace sigslot {

// Policy tag kept for source compatibility: every signal here is single threaded.
class single_threaded {};

class has_slots_interface;

class signal_base {
 public:
  virtual ~signal_base() = default;
  virtual void slot_disconnect(has_slots_interface* receiver) = 0;
};

class has_slots_interface {
 public:
  virtual ~has_slots_interface() = default;
  virtual void signal_connect(signal_base* sender) = 0;
  virtual void signal_disconnect(signal_base* sender) = 0;
};

template <class mt_policy = single_threaded>
class has_slots : public has_slots_interface {
 public:
  has_slots() = default;
  // Copies receive no connections of their own.
  has_slots(const has_slots&) : has_slots_interface() {}
  has_slots& operator=(const has_slots&) { return *this; }
  ~has_slots() override { disconnect_all(); }

  void signal_connect(signal_base* sender) override { senders_.insert(sender); }
  void signal_disconnect(signal_base* sender) override { senders_.erase(sender); }

  void disconnect_all() {
    std::set<signal_base*> senders;
    senders.swap(senders_);
    for (signal_base* s : senders) s->slot_disconnect(this);
  }

 private:
  std::set<signal_base*> senders_;
};

template <class mt_policy, class... Args>
class signal_impl : public signal_base {
 public:
  signal_impl() = default;
  signal_impl(const signal_impl&) = delete;
  signal_impl& operator=(const signal_impl&) = delete;
  ~signal_impl() override { disconnect_all(); }

  // `method` may belong to a base class of the receiver (a handler inherited from a parent).
  template <class Dest, class Owner>
  void connect(Dest* receiver, void (Owner::*method)(Args...)) {
    static_assert(std::is_base_of_v<Owner, Dest>, "the method must belong to the receiver");
    static_assert(std::is_base_of_v<has_slots_interface, Dest>,
                  "the receiver must derive from has_slots<>");
    auto slot = std::make_shared<Slot>();
    slot->receiver = receiver;
    slot->call = [receiver, method](Args... args) { (receiver->*method)(args...); };
    slots_.push_back(std::move(slot));
    receiver->signal_connect(this);
  }

  // Removes every connection of this receiver.
  void disconnect(has_slots_interface* receiver) {
    if (remove_receiver(receiver)) receiver->signal_disconnect(this);
  }

  void disconnect_all() {
    std::vector<std::shared_ptr<Slot>> slots;
    slots.swap(slots_);
    std::set<has_slots_interface*> receivers;
    for (auto& s : slots) {
      s->alive = false;
      receivers.insert(s->receiver);
    }
    for (has_slots_interface* r : receivers) r->signal_disconnect(this);
  }

  bool is_empty() const { return slots_.empty(); }
  size_t slot_count() const { return slots_.size(); }

  void emit(Args... args) {
    const std::vector<std::shared_ptr<Slot>> snapshot = slots_;
    for (const auto& s : snapshot) {
      if (s->alive) s->call(args...);
    }
  }
  void operator()(Args... args) { emit(args...); }

  void slot_disconnect(has_slots_interface* receiver) override { remove_receiver(receiver); }

 private:
  struct Slot {
    has_slots_interface* receiver = nullptr;
    std::function<void(Args...)> call;
    bool alive = true;
  };

  bool remove_receiver(has_slots_interface* receiver) {
    bool found = false;
    for (auto& s : slots_) {
      if (s->receiver == receiver) {
        s->alive = false;
        found = true;
      }
    }
    std::erase_if(slots_, [](const std::shared_ptr<Slot>& s) { return !s->alive; });
    return found;
  }

  std::vector<std::shared_ptr<Slot>> slots_;
};

template <class mt_policy = single_threaded>
class signal0 : public signal_impl<mt_policy> {};
template <class A1, class mt_policy = single_threaded>
class signal1 : public signal_impl<mt_policy, A1> {};
template <class A1, class A2, class mt_policy = single_threaded>
class signal2 : public signal_impl<mt_policy, A1, A2> {};
template <class A1, class A2, class A3, class mt_policy = single_threaded>
class signal3 : public signal_impl<mt_policy, A1, A2, A3> {};
template <class A1, class A2, class A3, class A4, class mt_policy = single_threaded>
class signal4 : public signal_impl<mt_policy, A1, A2, A3, A4> {};
template <class A1, class A2, class A3, class A4, class A5, class mt_policy = single_threaded>
class signal5 : public signal_impl<mt_policy, A1, A2, A3, A4, A5> {};
template <class A1, class A2, class A3, class A4, class A5, class A6,
          class mt_policy = single_threaded>
class signal6 : public signal_impl<mt_policy, A1, A2, A3, A4, A5, A6> {};

}  // namespace sigslot
