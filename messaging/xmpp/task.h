// Cooperative tasks: small state machines run by a TaskRunner on one thread.
//
// A task is created with its parent (a TaskRunner or another task) and does nothing until
// Start(). The runner then steps it whenever it is woken: Process(state) runs the handler of the
// current state (ProcessStart, ProcessResponse, or a subclass's own), whose return value is the
// next state. STATE_BLOCKED parks the task until Wake(); STATE_DONE and STATE_ERROR end it.
// A task that ends aborts its children first. Ended tasks are deleted by the runner: whoever
// keeps a pointer to a task must stop using it once the task has ended (SignalDone tells) or the
// runner is gone.
//
// Everything here runs on the runner's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "messaging/sigslot/sigslot.h"

namespace talk_base {

class Task;
class TaskRunner;

class TaskParent {
 public:
  TaskParent(Task* derived_instance, TaskParent* parent);
  explicit TaskParent(TaskRunner* derived_instance);
  virtual ~TaskParent();
  TaskParent(const TaskParent&) = delete;
  TaskParent& operator=(const TaskParent&) = delete;

  TaskParent* GetParent() { return parent_; }
  TaskRunner* GetRunner() { return runner_; }

  bool AllChildrenDone() const;
  bool AnyChildError() const;
  void AbortAllChildren();

 protected:
  void OnStopped(Task* task);
  void AddChild(Task* child);

 private:
  friend class Task;
  void Initialize();

  TaskParent* parent_ = nullptr;
  TaskRunner* runner_ = nullptr;
  bool child_error_ = false;
  std::set<Task*> children_;
};

class Task : public TaskParent {
 public:
  explicit Task(TaskParent* parent);
  ~Task() override;

  int32_t unique_id() const { return unique_id_; }

  void Start();
  // Runs the current state's handler until the task blocks or ends. Called by the runner.
  void Step();
  int GetState() const { return state_; }
  bool HasError() const { return state_ == STATE_ERROR; }
  bool Blocked() const { return blocked_; }
  bool IsDone() const { return done_; }
  // Ends the task (and its children) with an error; its handlers do not run again.
  void Abort(bool nowake = false);
  // Makes a blocked task runnable again.
  void Wake();

  // A timeout, counted from Start or the last ResetTimeout; 0 means none. A task that times out
  // runs OnTimeout, whose result is its next state.
  void set_timeout_seconds(int timeout_seconds);
  int timeout_seconds() const { return timeout_seconds_; }
  int64_t timeout_time() const { return timeout_time_; }
  bool TimedOut() const;

  sigslot::signal0<> SignalTimeout;
  // The task has ended (done, error or aborted); it is deleted soon after.
  sigslot::signal0<> SignalDone;

 protected:
  enum {
    STATE_BLOCKED = -1,
    STATE_INIT = 0,
    STATE_START = 1,
    STATE_DONE = 2,
    STATE_ERROR = 3,
    STATE_RESPONSE = 4,
    STATE_NEXT = 5,  // the first state number free for subclasses
  };

  virtual std::string GetStateName(int state) const;
  virtual int Process(int state);
  // Called once when the task ends, before its children are aborted.
  virtual void Stop();
  virtual int ProcessStart() = 0;
  virtual int ProcessResponse() { return STATE_DONE; }

  void ResetTimeout();
  void ClearTimeout();
  virtual int OnTimeout() { return STATE_ERROR; }

 private:
  friend class TaskRunner;
  void Done();
  void CheckTimeout();

  int state_ = STATE_INIT;
  bool blocked_ = false;
  bool done_ = false;
  bool aborted_ = false;
  bool busy_ = false;
  bool woken_while_busy_ = false;
  bool owned_by_runner_ = false;
  int32_t unique_id_;
  int timeout_seconds_ = 0;
  int64_t timeout_time_ = 0;
  static int32_t unique_id_seed_;
};

// Owns and runs started tasks. WakeTasks() must arrange for RunTasks() to be called soon on the
// runner's thread (the pump posts a message to its thread).
class TaskRunner : public TaskParent, public sigslot::has_slots<> {
 public:
  TaskRunner();
  // Deletes every task still held (ended or not) without running it again.
  ~TaskRunner() override;

  // Steps every runnable task, then deletes the tasks that ended.
  void RunTasks();
  // Ends tasks whose timeout passed; called by RunTasks.
  void PollTasks();

  virtual void WakeTasks() = 0;
  // Milliseconds on a steady clock.
  virtual int64_t CurrentTime();
  // The earliest timeout of a live task (0 for none), for arranging a wake-up.
  int64_t NextTimeout() const;

  bool HasLiveTasks() const;

 protected:
  // Called when the earliest timeout may have changed.
  virtual void OnTimeoutChange() {}
  // Deletes every task now, without running any of it. A derived runner calls this from its
  // destructor so that no task outlives what the runner's own members provide.
  void DestroyAllTasks();

 private:
  friend class Task;
  void StartTask(Task* task);
  void UpdateTaskTimeouts();

  std::vector<std::unique_ptr<Task>> tasks_;
  bool tasks_running_ = false;
  bool destroying_ = false;
};

}  // namespace talk_base
