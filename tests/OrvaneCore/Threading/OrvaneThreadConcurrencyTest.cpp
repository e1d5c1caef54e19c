#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "OrvaneCore/Threading/OrvaneThread.h"
#include "OrvaneCore/Threading/TaskProcessor.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

class TRecordingThread : public TOrvaneThread {
public:
  TRecordingThread(std::atomic<bool>& ARan, TWaitableEvent& ADestroyed)
      : FRan(ARan), FDestroyed(ADestroyed) {}
  ~TRecordingThread() override { FDestroyed.SetEvent(); }
  std::string ClassName() const override { return "TRecordingThread"; }

protected:
  void Execute() override { FRan = true; }

private:
  std::atomic<bool>& FRan;
  TWaitableEvent& FDestroyed;
};

TEST(OrvaneThreadTest, ThreadFreedWithoutStartRunsNothingAndNeedsNoWait) {
  Testing::TManualClockScope LScope;  // any wait would hang here: nothing advances the clock
  std::atomic<bool> LRan{false};
  TWaitableEvent LDestroyed(true, false);
  auto LThread = std::make_unique<TRecordingThread>(LRan, LDestroyed);
  EXPECT_TRUE(LThread->WaitFor(0));  // never started counts as finished
  LThread.reset();
  EXPECT_FALSE(LRan);
  EXPECT_EQ(LDestroyed.WaitFor(0), TWaitResult::wrSignaled);
}

TEST(OrvaneThreadTest, FreeOnTerminateFreesTheObjectAfterTheProcedure) {
  std::atomic<bool> LRan{false};
  TWaitableEvent LDestroyed(true, false);
  auto* LThread = new TRecordingThread(LRan, LDestroyed);
  LThread->SetFreeOnTerminate(true);
  LThread->Start();
  ASSERT_EQ(LDestroyed.WaitFor(10000), TWaitResult::wrSignaled);
  EXPECT_TRUE(LRan);
}

TEST(OrvaneThreadTest, DestroyingARunningThreadAsksItToTerminateAndWaits) {
  std::atomic<bool> LEnded{false};
  TOrvaneThread* LRaw = nullptr;
  auto LThread = TOrvaneThread::CreateAnonymousThread([&] {
    while (!LRaw->GetTerminated()) Clock().SleepMs(1);
    LEnded = true;
  });
  LRaw = LThread.get();
  LThread->SetPriority(TThreadPriority::tpLower);
  LThread->Start();
  LThread->Start();  // a second start does nothing
  LThread.reset();
  EXPECT_TRUE(LEnded);
}

TEST(OrvaneThreadTest, ExceptionInTheProcedureEndsTheThreadQuietly) {
  auto LThread = TOrvaneThread::CreateAnonymousThread([] { throw std::runtime_error("boom"); });
  LThread->Start();
  EXPECT_TRUE(LThread->WaitFor(-1));
  EXPECT_TRUE(LThread->GetFinished());
}

TEST(TaskProcessorTest, ItemThatRaisesAnythingIsLoggedAndTheNextOneRuns) {
  Testing::TManualClockScope LScope;
  std::atomic<int> LRan{0};
  TTaskProcessor LProcessor("TestTasks");
  LProcessor.Post([] { throw std::runtime_error("item failed"); });
  LProcessor.Post([] { throw 42; });
  LProcessor.Post([&] { ++LRan; });
  Clock().WaitForSleepers(1);  // idle again after the three items
  EXPECT_EQ(LRan, 1);
  EXPECT_EQ(LProcessor.PendingCount(), 0);
}

}  // namespace
}  // namespace Orvane
