#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "OrvaneCore/Threading/Event.h"
#include "OrvaneCore/Threading/OrvaneThread.h"
#include "OrvaneCore/Threading/TaskProcessor.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

using TIntEvent = TEvent<void(int)>;

TEST(EventTest, HandlersRemovedDuringAnInvocationRunAtMostOnceWithoutDeadlock) {
  TIntEvent LEvent;
  int LCalls = 0;
  TIntEvent::TToken LSelf = 0, LSkipped = 0;
  LSelf = LEvent.Add([&](int) {
    ++LCalls;
    LEvent.Remove(LSelf);
    LEvent.Remove(LSkipped);  // a later handler of the same invocation
  });
  LSkipped = LEvent.Add([&](int) { LCalls += 100; });
  LEvent.Invoke(1);
  LEvent.Invoke(1);
  EXPECT_EQ(LCalls, 1);
  EXPECT_EQ(LEvent.Count(), 0u);
}

TEST(EventTest, ThrowingHandlerDoesNotLeaveItselfMarkedRunning) {
  TIntEvent LEvent;
  const auto LToken = LEvent.Add([](int) { throw std::runtime_error("handler failed"); });
  EXPECT_THROW(LEvent.Invoke(1), std::runtime_error);
  std::thread LRemover([&] { LEvent.Remove(LToken); });  // would wait forever if still marked running
  LRemover.join();
  EXPECT_EQ(LEvent.Count(), 0u);
}

TEST(EventConcurrencyTest, RemoveWaitsForTheHandlerRunningOnAnotherThread) {
  Testing::TManualClockScope LScope;
  TIntEvent LEvent;
  TWaitableEvent LEntered(true, false), LRelease(true, false);
  std::atomic<bool> LRemoveReturned{false}, LHandlerDone{false};
  const auto LToken = LEvent.Add([&](int) {
    LEntered.SetEvent();
    LRelease.WaitFor(-1);
    LHandlerDone = true;
  });
  std::thread LInvoker([&] { LEvent.Invoke(1); });
  LEntered.WaitFor(-1);
  std::thread LRemover([&] {
    LEvent.Remove(LToken);
    EXPECT_TRUE(LHandlerDone);
    LRemoveReturned = true;
  });
  Clock().WaitForSleepers(2);  // the handler on its release, the remover on the invocation
  EXPECT_FALSE(LRemoveReturned);
  LRelease.SetEvent();
  LInvoker.join();
  LRemover.join();
  EXPECT_TRUE(LRemoveReturned);
}

TEST(EventConcurrencyTest, HandlersNeverRunAfterTheirRemovalReturned) {
  TIntEvent LEvent;
  std::atomic<bool> LStop{false};
  std::atomic<int> LLateCalls{0}, LCalls{0};
  std::thread LInvoker([&] {
    while (!LStop) {
      LEvent.Invoke(1);
      std::this_thread::yield();  // lets Add and Remove get the event's lock on a busy machine
    }
  });
  for (int I = 0; I < 300; ++I) {
    auto LRemoved = std::make_shared<std::atomic<bool>>(false);
    const auto LToken = LEvent.Add([LRemoved, &LLateCalls, &LCalls](int) {
      ++LCalls;
      if (*LRemoved) ++LLateCalls;
    });
    // Until the handler has run here, within a bound: on a busy machine the invoker may lag.
    const int LBefore = LCalls;
    for (int J = 0; J < 1000 && LCalls == LBefore; ++J) std::this_thread::yield();
    LEvent.Remove(LToken);
    *LRemoved = true;
  }
  LStop = true;
  LInvoker.join();
  EXPECT_EQ(LLateCalls, 0);
  EXPECT_GT(LCalls, 0);
}

TEST(OrvaneThreadTest, ThreadFreedWithoutStartRunsNothingAndNeedsNoWait) {
  Testing::TManualClockScope LScope;  // any wait would hang here: nothing advances the clock
  bool LRan = false;
  auto LThread = TOrvaneThread::CreateAnonymousThread([&] { LRan = true; });
  EXPECT_TRUE(LThread->WaitFor(0));  // never started counts as finished
  LThread.reset();
  EXPECT_FALSE(LRan);
}

TEST(OrvaneThreadTest, FreeOnTerminateFreesTheObjectAfterTheProcedure) {
  std::atomic<bool> LRan{false};
  TWaitableEvent LDestroyed(true, false);
  // The procedure holds the only owner of the marker: it goes when the thread object is freed.
  std::shared_ptr<void> LMarker(nullptr, [&LDestroyed](void*) { LDestroyed.SetEvent(); });
  auto LThread = TOrvaneThread::CreateAnonymousThread([&LRan, LMarker = std::move(LMarker)] { LRan = true; });
  LThread->SetFreeOnTerminate(true);
  LThread.release()->Start();
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
