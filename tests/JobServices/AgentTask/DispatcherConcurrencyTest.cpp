#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "JobServices/AgentTask/Dispatcher.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Return;

constexpr int CThreadCount = 8;
// Bounds the gates of these tests; on the manual clock time stands still, so they open only when
// the test opens them.
constexpr int64_t CGateMs = 60'000;

std::string IdOf(int AIndex) {
  return "{00000000-0000-0000-0000-00000000000" + std::to_string(AIndex) + "}";
}

class DispatcherConcurrencyTest : public ::testing::Test {
protected:
  // A task that answers to the id of AIndex and fails the test on any call it does not expect.
  std::shared_ptr<::testing::StrictMock<Testing::MockAgentTask>> AddTask(int AIndex) {
    auto LTask = std::make_shared<::testing::StrictMock<Testing::MockAgentTask>>();
    EXPECT_CALL(*LTask, GetAgentTaskId()).WillRepeatedly(Return(IdOf(AIndex)));
    FTasks.Add(LTask);
    return LTask;
  }
  bool Start(int AIndex) {
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = IdOf(AIndex);
    return FDispatcher.StartScanner(LAction, [] { return true; });
  }
  // Every walk over the tasks waits at the gate until the test opens it.
  void HoldWalksAtGate() {
    FTasks.SetOnWalk([this] { FGate.WaitFor(CGateMs); });
  }
  void JoinAll() {
    for (std::thread& LThread : FThreads) LThread.join();
    FThreads.clear();
  }
  // A failed expectation must not leave a thread behind at the gate.
  void TearDown() override {
    FGate.SetEvent();
    JoinAll();
  }

  Testing::TManualClockScope FClock;
  TWaitableEvent FGate{true, false};
  Testing::TCountingTaskSequence FTasks;
  TAgentTaskDispatcher FDispatcher{TClientId{"client-7"}, FTasks.AsLazy()};
  std::vector<std::thread> FThreads;
};

TEST_F(DispatcherConcurrencyTest, EightFirstLookupsOfOneIdAtOnceAllRunTheTaskAndFillTheCache) {
  AddTask(2);
  EXPECT_CALL(*AddTask(1), Execute(::testing::Eq("client-7"), _, _))
      .Times(CThreadCount + 1)
      .WillRepeatedly(Return(true));
  HoldWalksAtGate();
  std::atomic<int> LSucceeded{0};
  for (int LIndex = 0; LIndex < CThreadCount; ++LIndex)
    FThreads.emplace_back([this, &LSucceeded] { LSucceeded += Start(1); });
  // Every thread is inside its own walk: none waits for another's.
  Clock().WaitForSleepers(CThreadCount);
  FGate.SetEvent();
  JoinAll();
  EXPECT_EQ(LSucceeded.load(), CThreadCount);
  const int LWalks = FTasks.Walks();
  EXPECT_TRUE(Start(1));
  EXPECT_EQ(FTasks.Walks(), LWalks);
}

TEST_F(DispatcherConcurrencyTest, LookupsOfDifferentIdsWalkSideBySideOncePerId) {
  for (int LIndex = 0; LIndex < CThreadCount; ++LIndex)
    EXPECT_CALL(*AddTask(LIndex), Execute(_, _, _)).Times(2).WillRepeatedly(Return(true));
  HoldWalksAtGate();
  const auto LRunAll = [this] {
    for (int LIndex = 0; LIndex < CThreadCount; ++LIndex)
      FThreads.emplace_back([this, LIndex] { EXPECT_TRUE(Start(LIndex)); });
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
  const auto LSlow = AddTask(1);
  EXPECT_CALL(*LSlow, Execute(_, _, _)).WillOnce([this](auto&&...) {
    return FGate.WaitFor(CGateMs) == TWaitResult::wrSignaled;
  });
  EXPECT_CALL(*LSlow, ScanOnly(_, _, _, _)).WillOnce(Return(true));
  EXPECT_CALL(*AddTask(2), Execute(_, _, _)).WillOnce(Return(true));
  FThreads.emplace_back([this] { EXPECT_TRUE(Start(1)); });
  Clock().WaitForSleepers(1);
  // While the slow task runs: a first lookup of another id, and the same task's collection step.
  EXPECT_TRUE(Start(2));
  EXPECT_TRUE(FDispatcher.ScanOnly(IdOf(1), nullptr, "/tmp/out"));
  FGate.SetEvent();
  JoinAll();
  EXPECT_EQ(FTasks.Walks(), 2);
}

}  // namespace
}  // namespace Orvane
