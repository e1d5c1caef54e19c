#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {
double SecondsSince(TMonoTime AStart) {
  return std::chrono::duration<double>(Clock().Monotonic() - AStart).count();
}

// A thread that waits on ACondition under ALock for at most ASeconds; AResult is the wait's answer.
std::thread Waiter(TMutex& ALock, TClockCondition& ACondition, int ASeconds, const bool& AReady,
                   std::atomic<int>& AResult) {
  return std::thread([&, ASeconds] {
    TMutexLock LGuard(ALock);
    AResult = Clock().Wait(ACondition, LGuard, Clock().DeadlineIn(ASeconds), [&] {
      ALock.AssertHeld();
      return AReady;
    });
  });
}

TEST(ManualClockTest, NotificationWakesAWaiterWithoutTimePassingAndOnlyWhenItsPredicateHolds) {
  Testing::TManualClockScope LScope;
  const TMonoTime LStart = Clock().Monotonic();
  TMutex LLock;
  TClockCondition LChanged;
  bool LReady = false, LNever = false;
  std::atomic<int> LResult{-1}, LUnchanged{-1};
  std::thread LWaiter = Waiter(LLock, LChanged, 3600, LReady, LResult);
  std::thread LOther = Waiter(LLock, LChanged, 5, LNever, LUnchanged);
  Clock().WaitForSleepers(2);
  {
    TMutexLock LGuard(LLock);
    LReady = true;
  }
  LChanged.NotifyAll();  // for the other waiter a wake-up without a change: it sleeps again
  LWaiter.join();
  EXPECT_EQ(LResult, 1);
  EXPECT_EQ(Clock().Monotonic(), LStart);
  Clock().WaitForSleepers(1);
  EXPECT_EQ(LUnchanged, -1);
  Clock().AdvanceSeconds(5);
  LOther.join();
  EXPECT_EQ(LUnchanged, 0);
}

TEST(WaitableEventTest, TimedWaitEndsAtTheSignalOrAtItsDeadline) {
  Testing::TManualClockScope LScope;
  for (bool LSignal : {false, true}) {
    SCOPED_TRACE(LSignal ? "signalled after 2 s" : "never signalled");
    TWaitableEvent LEvent(false, false);
    const TMonoTime LStart = Clock().Monotonic();
    std::atomic<int> LResult{-1};
    std::atomic<double> LElapsed{-1};
    std::thread LWaiter([&] {
      LResult = static_cast<int>(LEvent.WaitFor(5000));
      LElapsed = SecondsSince(LStart);
    });
    Clock().WaitForSleepers(1);
    if (LSignal) {
      Clock().AdvanceSeconds(2);
      LEvent.SetEvent();
    } else {
      Clock().AdvanceMs(4999);
      EXPECT_EQ(LResult, -1);
      Clock().AdvanceMs(1);
    }
    LWaiter.join();
    EXPECT_EQ(LResult, static_cast<int>(LSignal ? TWaitResult::wrSignaled : TWaitResult::wrTimeout));
    EXPECT_DOUBLE_EQ(LElapsed, LSignal ? 2.0 : 5.0);
    EXPECT_FALSE(LEvent.IsSignaledForTesting());  // auto-reset consumed the signal
  }
}

TEST(WaitableEventTest, AutoResetLetsOneWaiterThroughAndManualResetLetsAll) {
  Testing::TManualClockScope LScope;
  for (bool LManualReset : {false, true}) {
    TWaitableEvent LEvent(LManualReset, false);
    std::atomic<int> LThrough{0};
    auto LWait = [&] { LThrough += LEvent.WaitFor(1000) == TWaitResult::wrSignaled; };
    std::thread LFirst(LWait), LSecond(LWait);
    Clock().WaitForSleepers(2);
    LEvent.SetEvent();
    Clock().AdvanceSeconds(1);
    LFirst.join();
    LSecond.join();
    EXPECT_EQ(LThrough, LManualReset ? 2 : 1) << "manual reset: " << LManualReset;
  }
}

}  // namespace
}  // namespace Orvane
