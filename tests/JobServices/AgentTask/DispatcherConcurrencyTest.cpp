#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "JobServices/AgentTask/Dispatcher.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Eq;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::StrictMock;

constexpr int CThreadCount = 8;
// Bounds the gates of these tests; on the manual clock time stands still, so they open only when
// the test opens them.
constexpr int64_t CGateMs = 60'000;

std::shared_ptr<TScannerJobAction> ActionFor(const std::string& AId) {
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AId;
  return LAction;
}

std::string IdOf(int AIndex) {
  return "{00000000-0000-0000-0000-00000000000" + std::to_string(AIndex) + "}";
}

std::shared_ptr<StrictMock<Testing::MockAgentTask>> MakeTask(const std::string& AId) {
  auto LTask = std::make_shared<StrictMock<Testing::MockAgentTask>>();
  EXPECT_CALL(*LTask, GetAgentTaskId()).WillRepeatedly(Return(AId));
  return LTask;
}

class DispatcherConcurrencyTest : public ::testing::Test {
protected:
  // Every walk over the tasks waits at the gate until the test opens it.
  void HoldWalksAtGate() {
    FTasks.SetOnWalk([this] { FGate.WaitFor(CGateMs); });
  }

  // A failed expectation must not leave a thread behind at the gate.
  void TearDown() override {
    FGate.SetEvent();
    JoinAll();
  }

  void JoinAll() {
    for (std::thread& LThread : FThreads) LThread.join();
    FThreads.clear();
  }

  Testing::TManualClockScope FClock;
  TWaitableEvent FGate{true, false};
  Testing::TCountingTaskSequence FTasks;
  TAgentTaskDispatcher FDispatcher{TClientId{"client-7"}, FTasks.AsLazy()};
  std::vector<std::thread> FThreads;
};

TEST_F(DispatcherConcurrencyTest, EightFirstLookupsOfOneIdAtOnceAllRunTheTaskAndFillTheCache) {
  const auto LTask = MakeTask(IdOf(1));
  FTasks.Add(MakeTask(IdOf(2)));
  FTasks.Add(LTask);
  EXPECT_CALL(*LTask, Execute(Eq("client-7"), _, _)).Times(CThreadCount + 1).WillRepeatedly(Return(true));
  HoldWalksAtGate();

  std::atomic<int> LSucceeded{0};
  for (int LIndex = 0; LIndex < CThreadCount; ++LIndex)
    FThreads.emplace_back([this, &LSucceeded] {
      if (FDispatcher.StartScanner(ActionFor(IdOf(1)), [] { return true; })) ++LSucceeded;
    });
  // Every thread is inside its own walk: none waits for another's.
  Clock().WaitForSleepers(CThreadCount);
  FGate.SetEvent();
  JoinAll();
  EXPECT_EQ(LSucceeded.load(), CThreadCount);

  const int LWalks = FTasks.Walks();
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(IdOf(1)), [] { return true; }));
  EXPECT_EQ(FTasks.Walks(), LWalks);
}

TEST_F(DispatcherConcurrencyTest, LookupsOfDifferentIdsWalkSideBySideOncePerId) {
  std::vector<std::shared_ptr<StrictMock<Testing::MockAgentTask>>> LTasks;
  for (int LIndex = 0; LIndex < CThreadCount; ++LIndex) {
    LTasks.push_back(MakeTask(IdOf(LIndex)));
    FTasks.Add(LTasks.back());
    EXPECT_CALL(*LTasks.back(), Execute(_, _, _)).Times(2).WillRepeatedly(Return(true));
  }
  HoldWalksAtGate();

  const auto LRunAll = [this] {
    for (int LIndex = 0; LIndex < CThreadCount; ++LIndex)
      FThreads.emplace_back([this, LIndex] {
        EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(IdOf(LIndex)), [] { return true; }));
      });
  };
  LRunAll();
  // All eight are inside a walk at the same time: no lookup waits for another id's walk.
  Clock().WaitForSleepers(CThreadCount);
  EXPECT_EQ(FTasks.Walks(), CThreadCount);
  FGate.SetEvent();
  JoinAll();

  // The second round is served from the cache.
  LRunAll();
  JoinAll();
  EXPECT_EQ(FTasks.Walks(), CThreadCount);
}

TEST_F(DispatcherConcurrencyTest, RunningTaskHoldsUpNoOtherLookupOrRun) {
  const auto LSlow = MakeTask(IdOf(1));
  const auto LOther = MakeTask(IdOf(2));
  FTasks.Add(LSlow);
  FTasks.Add(LOther);
  EXPECT_CALL(*LSlow, Execute(_, _, _)).WillOnce(Invoke([this](auto&&...) {
    return FGate.WaitFor(CGateMs) == TWaitResult::wrSignaled;
  }));
  EXPECT_CALL(*LSlow, ScanOnly(_, _, _, _)).WillOnce(Return(true));
  EXPECT_CALL(*LOther, Execute(_, _, _)).WillOnce(Return(true));

  FThreads.emplace_back(
      [this] { EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(IdOf(1)), [] { return true; })); });
  Clock().WaitForSleepers(1);

  // While the slow task runs: a first lookup of another id, and the same task's collection step.
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(IdOf(2)), [] { return true; }));
  EXPECT_TRUE(FDispatcher.ScanOnly(IdOf(1), ActionFor(IdOf(1)), "/tmp/out"));

  FGate.SetEvent();
  JoinAll();
  EXPECT_EQ(FTasks.Walks(), 2);
}

}  // namespace
}  // namespace Orvane
