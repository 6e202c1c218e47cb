// The task runner: start, block and wake, end, abort, timeouts, and ownership.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "messaging/xmpp/task.h"

namespace talk_base {
namespace {

class TestRunner : public TaskRunner {
 public:
  ~TestRunner() override { DestroyAllTasks(); }
  void WakeTasks() override { ++wakes; }
  int64_t CurrentTime() override { return now; }
  int wakes = 0;
  int64_t now = 1000;
};

// Records what happens to it in a shared log; runs a scripted list of state results.
class ScriptTask : public Task {
 public:
  ScriptTask(TaskParent* parent, std::string name, std::vector<int> results,
             std::vector<std::string>* log)
      : Task(parent), name_(std::move(name)), results_(std::move(results)), log_(log) {}
  ~ScriptTask() override { log_->push_back(name_ + ":deleted"); }

  int ProcessStart() override {
    log_->push_back(name_ + ":start");
    if (wake_self) Wake();
    if (step_ >= results_.size()) return STATE_BLOCKED;
    return results_[step_++];
  }
  int ProcessResponse() override {
    log_->push_back(name_ + ":response");
    return STATE_DONE;
  }
  void Stop() override { log_->push_back(name_ + ":stop"); }
  int OnTimeout() override {
    log_->push_back(name_ + ":timeout");
    return STATE_ERROR;
  }
  using Task::set_timeout_seconds;
  bool wake_self = false;

 private:
  std::string name_;
  std::vector<int> results_;
  size_t step_ = 0;
  std::vector<std::string>* log_;
};

constexpr int kBlocked = -1, kStart = 1, kDone = 2, kError = 3, kResponse = 4;

TEST(TaskRunnerTest, RunsStatesUntilBlockedThenEndsAndDeletes) {
  std::vector<std::string> log;
  TestRunner runner;
  auto* task = new ScriptTask(&runner, "a", {kStart, kBlocked, kResponse}, &log);
  struct Counter : sigslot::has_slots<> {
    int n = 0;
    void On() { ++n; }
  } done_signals;
  task->SignalDone.connect(&done_signals, &Counter::On);
  runner.RunTasks();
  EXPECT_EQ(log, (std::vector<std::string>{}));  // not started: nothing runs
  task->Start();
  EXPECT_GT(runner.wakes, 0);
  runner.RunTasks();
  EXPECT_EQ(log, (std::vector<std::string>{"a:start", "a:start"}));
  EXPECT_TRUE(task->Blocked());
  EXPECT_EQ(task->GetState(), 1);  // blocked keeps the state it blocked in
  runner.RunTasks();
  EXPECT_EQ(log.size(), 2u);  // blocked tasks do not run
  task->Wake();
  runner.RunTasks();
  EXPECT_EQ(log, (std::vector<std::string>{"a:start", "a:start", "a:start", "a:response", "a:stop",
                                           "a:deleted"}));
  EXPECT_EQ(done_signals.n, 1);
  EXPECT_FALSE(runner.HasLiveTasks());
}

TEST(TaskRunnerTest, AbortEndsChildrenFirstAndNeverRunsAgain) {
  std::vector<std::string> log;
  TestRunner runner;
  auto* parent = new ScriptTask(&runner, "p", {kBlocked}, &log);
  auto* child = new ScriptTask(parent, "c", {kBlocked}, &log);
  parent->Start();
  child->Start();
  runner.RunTasks();
  log.clear();
  parent->Abort();
  EXPECT_TRUE(parent->IsDone());
  EXPECT_TRUE(parent->HasError());
  EXPECT_TRUE(child->IsDone());
  parent->Wake();
  runner.RunTasks();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], "p:stop");  // the task itself stops before its children are aborted
  EXPECT_EQ(log[1], "c:stop");
  EXPECT_EQ(std::count(log.begin(), log.end(), "p:deleted"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "c:deleted"), 1);
}

TEST(TaskRunnerTest, WakeWhileRunningKeepsTheTaskRunnable) {
  std::vector<std::string> log;
  TestRunner runner;
  auto* task = new ScriptTask(&runner, "w", {kBlocked, kDone}, &log);
  task->wake_self = true;  // as a task that queues work for itself while it runs
  task->Start();
  runner.RunTasks();
  EXPECT_EQ(log, (std::vector<std::string>{"w:start", "w:start", "w:stop", "w:deleted"}));
}

TEST(TaskRunnerTest, TimeoutEndsABlockedTask) {
  std::vector<std::string> log;
  TestRunner runner;
  auto* task = new ScriptTask(&runner, "t", {kBlocked}, &log);
  task->set_timeout_seconds(5);
  task->Start();
  runner.RunTasks();
  EXPECT_EQ(runner.NextTimeout(), 1000 + 5000);
  runner.now += 4999;
  runner.RunTasks();
  EXPECT_FALSE(task->IsDone());
  runner.now += 1;
  runner.RunTasks();
  EXPECT_EQ(log, (std::vector<std::string>{"t:start", "t:timeout", "t:stop", "t:deleted"}));
  EXPECT_EQ(runner.NextTimeout(), 0);
}

TEST(TaskRunnerTest, ATaskThatNeverBlocksDoesNotHangTheRunner) {
  std::vector<std::string> log;
  TestRunner runner;
  auto* task = new ScriptTask(&runner, "busy", std::vector<int>(5000, kStart), &log);
  task->Start();
  runner.wakes = 0;
  runner.RunTasks();  // returns, asking to be woken again
  EXPECT_LT(log.size(), 5000u);
  EXPECT_EQ(runner.wakes, 1);
  EXPECT_FALSE(task->IsDone());
}

TEST(TaskRunnerTest, DestroyingTheRunnerDeletesLiveAndUnstartedChildrenSafely) {
  std::vector<std::string> log;
  {
    TestRunner runner;
    auto* a = new ScriptTask(&runner, "a", {kBlocked}, &log);
    auto* b = new ScriptTask(a, "b", {kBlocked}, &log);
    b->Start();  // started before its parent: deleted after it
    a->Start();
    runner.RunTasks();
  }
  EXPECT_EQ(std::count(log.begin(), log.end(), "a:deleted"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "b:deleted"), 1);
}

TEST(TaskRunnerTest, ErrorEndsTheTaskAndTellsTheParent) {
  std::vector<std::string> log;
  TestRunner runner;
  auto* parent = new ScriptTask(&runner, "p", {kBlocked}, &log);
  auto* child = new ScriptTask(parent, "c", {kError}, &log);
  parent->Start();
  child->Start();
  runner.RunTasks();
  EXPECT_TRUE(parent->AnyChildError());
  EXPECT_TRUE(parent->AllChildrenDone());
  EXPECT_FALSE(parent->IsDone());
}

}  // namespace
}  // namespace talk_base
