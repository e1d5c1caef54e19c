#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

using Testing::TManualClockScope;

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
