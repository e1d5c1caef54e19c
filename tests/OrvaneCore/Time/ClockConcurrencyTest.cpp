#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Threading/OrvaneThread.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

using Testing::TManualClockScope;

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

TEST(ManualClockTest, SleepersWakeInDeadlineOrderAtTheirOwnDeadlines) {
  TManualClockScope LScope;
  const TMonoTime LStart = Clock().Monotonic();
  TMutex LLock;
  std::vector<std::pair<int, double>> LWakes;
  std::vector<std::thread> LThreads;
  for (int LSeconds : {30, 10, 20})
    LThreads.emplace_back([&, LSeconds] {
      Clock().SleepMs(LSeconds * 1000);
      TMutexLock LGuard(LLock);
      LWakes.emplace_back(LSeconds, SecondsSince(LStart));
    });
  Clock().WaitForSleepers(3);
  Clock().AdvanceSeconds(60);
  for (std::thread& LThread : LThreads) LThread.join();
  TMutexLock LGuard(LLock);
  EXPECT_EQ(LWakes, (std::vector<std::pair<int, double>>{{10, 10.0}, {20, 20.0}, {30, 30.0}}));
  EXPECT_DOUBLE_EQ(SecondsSince(LStart), 60.0);
}

TEST(ManualClockTest, AdvanceFollowsSleepsThatWokenThreadsStartOnTheWay) {
  TManualClockScope LScope;
  std::atomic<int> LTicks{0};
  std::thread LTicker([&] {
    while (++LTicks <= 4) Clock().SleepMs(10000);
  });
  Clock().WaitForSleepers(1);
  Clock().AdvanceSeconds(35);
  EXPECT_EQ(LTicks, 4);  // woken at 10, 20 and 30 s, asleep again
  Clock().AdvanceSeconds(10);
  LTicker.join();
}

TEST(ManualClockTest, NotificationWakesAWaiterWithoutTimePassingAndOnlyWhenItsPredicateHolds) {
  TManualClockScope LScope;
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

TEST(ManualClockTest, SteppingTheWallClockDoesNotStretchOrShortenADeadline) {
  TManualClockScope LScope(EncodeDateTime(2026, 10, 25, 1, 0, 0));
  const TDateTime LWallBefore = Clock().Now();
  std::atomic<bool> LWoke{false};
  std::thread LSleeper([&] {
    Clock().SleepMs(60000);
    LWoke = true;
  });
  Clock().WaitForSleepers(1);
  Clock().StepWallClock(-3600);  // the clock set back one hour
  EXPECT_NEAR(SecondsBetween(LWallBefore, Clock().Now()), -3600, 1e-3);
  Clock().AdvanceSeconds(30);
  Clock().StepWallClock(+7200);
  EXPECT_FALSE(LWoke);
  Clock().AdvanceSeconds(30);
  EXPECT_TRUE(LWoke);
  LSleeper.join();
  EXPECT_NEAR(SecondsBetween(LWallBefore, Clock().Now()), 3600 + 60, 1e-3);
}

TEST(ManualClockTest, WaitForSleepersNamesTheThreadThatStaysBusy) {
  TManualClockScope LScope;
  std::atomic<bool> LRelease{false};
  auto LBusy = TOrvaneThread::CreateAnonymousThread([&] {
    while (!LRelease) std::this_thread::yield();
  });
  LBusy->Start();
  try {
    Clock().WaitForSleepers(1, 100);
    ADD_FAILURE() << "WaitForSleepers returned while a thread was busy";
  } catch (const EClockTimeout& E) {
    EXPECT_NE(std::string(E.what()).find("TAnonymousThread"), std::string::npos) << E.what();
  }
  LRelease = true;
  EXPECT_TRUE(LBusy->WaitFor(-1));
}

TEST(WaitableEventTest, TimedWaitEndsAtTheSignalOrAtItsDeadline) {
  TManualClockScope LScope;
  for (bool LSignal : {false, true}) {
    SCOPED_TRACE(LSignal ? "signalled after 2 s" : "never signalled");
    TWaitableEvent LEvent(false, false);
    const TMonoTime LStart = Clock().Monotonic();
    std::atomic<int> LResult{-1};
    std::atomic<double> LElapsed{-1};
    std::thread LWaiter([&] {
      LResult = static_cast<int>(LEvent.WaitFor(5000));
      LElapsed = std::chrono::duration<double>(Clock().Monotonic() - LStart).count();
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
  TManualClockScope LScope;
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
