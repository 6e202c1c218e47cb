#include "messaging/xmpp/task.h"

#include <algorithm>
#include <chrono>

namespace talk_base {

int32_t Task::unique_id_seed_ = 0;

TaskParent::TaskParent(Task* derived_instance, TaskParent* parent) : parent_(parent) {
  if (parent_ != nullptr) {
    runner_ = parent_->GetRunner();
    parent_->AddChild(derived_instance);
  }
}

TaskParent::TaskParent(TaskRunner* derived_instance) : runner_(derived_instance) {}

TaskParent::~TaskParent() {
  // Children that outlive us (deleted later by the runner) must not reach back.
  for (Task* child : children_) child->parent_ = nullptr;
}

bool TaskParent::AllChildrenDone() const {
  return std::all_of(children_.begin(), children_.end(), [](Task* t) { return t->IsDone(); });
}

bool TaskParent::AnyChildError() const { return child_error_; }

void TaskParent::AbortAllChildren() {
  // An aborting child may start or delete others; work on a copy.
  const std::set<Task*> children = children_;
  for (Task* child : children) child->Abort(true);
}

void TaskParent::OnStopped(Task* task) {
  // The child stays in the set until it is deleted, so that whichever of the two goes first
  // unlinks the other.
  if (task->HasError()) child_error_ = true;
}

void TaskParent::AddChild(Task* child) { children_.insert(child); }

Task::Task(TaskParent* parent) : TaskParent(this, parent), unique_id_(++unique_id_seed_) {}

Task::~Task() {
  if (parent_ != nullptr) parent_->children_.erase(this);
}

void Task::Start() {
  if (state_ != STATE_INIT || done_ || GetRunner() == nullptr) return;
  state_ = STATE_START;
  GetRunner()->StartTask(this);
  ResetTimeout();
  GetRunner()->WakeTasks();
}

void Task::Step() {
  if (done_ || blocked_) return;
  if (aborted_) {
    state_ = STATE_ERROR;
    Done();
    return;
  }
  busy_ = true;
  woken_while_busy_ = false;
  const int next = Process(state_);
  busy_ = false;
  if (aborted_) {
    state_ = STATE_ERROR;
    Done();
    return;
  }
  if (next == STATE_BLOCKED) {
    // A Wake() that came in while the handler ran means there is new work already.
    blocked_ = !woken_while_busy_;
  } else {
    state_ = next;
  }
  if (state_ == STATE_DONE || state_ == STATE_ERROR) Done();
}

void Task::Abort(bool nowake) {
  if (done_ || aborted_) return;
  aborted_ = true;
  if (busy_) return;  // Step finishes it when the handler returns
  state_ = STATE_ERROR;
  Done();
  if (!nowake && GetRunner() != nullptr && owned_by_runner_) GetRunner()->WakeTasks();
}

void Task::Wake() {
  if (done_) return;
  if (busy_) {
    woken_while_busy_ = true;
    return;
  }
  if (blocked_) {
    blocked_ = false;
    if (GetRunner() != nullptr) GetRunner()->WakeTasks();
  }
}

void Task::Done() {
  if (done_) return;
  done_ = true;
  blocked_ = false;
  timeout_time_ = 0;
  Stop();
  AbortAllChildren();
  if (parent_ != nullptr) parent_->OnStopped(this);
  SignalDone();
}

void Task::Stop() {}

std::string Task::GetStateName(int state) const {
  switch (state) {
    case STATE_BLOCKED:
      return "BLOCKED";
    case STATE_INIT:
      return "INIT";
    case STATE_START:
      return "START";
    case STATE_DONE:
      return "DONE";
    case STATE_ERROR:
      return "ERROR";
    case STATE_RESPONSE:
      return "RESPONSE";
  }
  return "??";
}

int Task::Process(int state) {
  switch (state) {
    case STATE_START:
      return ProcessStart();
    case STATE_RESPONSE:
      return ProcessResponse();
    case STATE_DONE:
    case STATE_ERROR:
      return STATE_BLOCKED;
  }
  return STATE_ERROR;
}

void Task::set_timeout_seconds(int timeout_seconds) {
  timeout_seconds_ = std::max(0, timeout_seconds);
  ResetTimeout();
}

bool Task::TimedOut() const {
  TaskRunner* runner = const_cast<Task*>(this)->GetRunner();
  return timeout_time_ != 0 && runner != nullptr && runner->CurrentTime() >= timeout_time_;
}

void Task::ResetTimeout() {
  if (done_ || state_ == STATE_INIT || GetRunner() == nullptr) return;
  const int64_t previous = timeout_time_;
  timeout_time_ =
      timeout_seconds_ > 0 ? GetRunner()->CurrentTime() + int64_t{timeout_seconds_} * 1000 : 0;
  if (timeout_time_ != previous) GetRunner()->UpdateTaskTimeouts();
}

void Task::ClearTimeout() {
  if (timeout_time_ == 0) return;
  timeout_time_ = 0;
  if (GetRunner() != nullptr) GetRunner()->UpdateTaskTimeouts();
}

void Task::CheckTimeout() {
  if (done_ || !TimedOut()) return;
  timeout_time_ = 0;
  SignalTimeout();
  if (done_) return;
  const int next = OnTimeout();
  if (next == STATE_BLOCKED) return;
  state_ = next;
  blocked_ = false;
  if (state_ == STATE_DONE || state_ == STATE_ERROR) Done();
}

TaskRunner::TaskRunner() : TaskParent(this) {}

TaskRunner::~TaskRunner() { DestroyAllTasks(); }

void TaskRunner::DestroyAllTasks() {
  destroying_ = true;
  // Deleting in reverse start order removes children before their parents.
  while (!tasks_.empty()) {
    std::unique_ptr<Task> task = std::move(tasks_.back());
    tasks_.pop_back();
    task.reset();
  }
}

void TaskRunner::StartTask(Task* task) {
  if (destroying_) return;
  task->owned_by_runner_ = true;
  tasks_.emplace_back(task);
}

void TaskRunner::RunTasks() {
  if (tasks_running_ || destroying_) return;
  tasks_running_ = true;
  PollTasks();
  // A task that never blocks must not starve the thread: after this many rounds the rest waits
  // for the next wake-up, so sockets and messages get their turn.
  constexpr int kMaxRounds = 1000;
  bool progress = true;
  int rounds = 0;
  while (progress && rounds < kMaxRounds) {
    progress = false;
    ++rounds;
    // Indexes, not iterators: tasks started meanwhile are appended and run in this pass.
    for (size_t i = 0; i < tasks_.size(); ++i) {
      Task* task = tasks_[i].get();
      if (task->IsDone() || task->Blocked()) continue;
      task->Step();
      progress = true;
    }
  }
  std::erase_if(tasks_, [](const std::unique_ptr<Task>& t) { return t->IsDone(); });
  tasks_running_ = false;
  if (progress) WakeTasks();
  UpdateTaskTimeouts();
}

void TaskRunner::PollTasks() {
  for (size_t i = 0; i < tasks_.size(); ++i) tasks_[i]->CheckTimeout();
}

int64_t TaskRunner::CurrentTime() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int64_t TaskRunner::NextTimeout() const {
  int64_t next = 0;
  for (const auto& t : tasks_) {
    if (t->IsDone() || t->timeout_time() == 0) continue;
    if (next == 0 || t->timeout_time() < next) next = t->timeout_time();
  }
  return next;
}

bool TaskRunner::HasLiveTasks() const {
  return std::any_of(tasks_.begin(), tasks_.end(),
                     [](const std::unique_ptr<Task>& t) { return !t->IsDone(); });
}

void TaskRunner::UpdateTaskTimeouts() {
  if (!destroying_) OnTimeoutChange();
}

}  // namespace talk_base
