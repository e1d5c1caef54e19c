#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "OrvaneCore/Threading/Event.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

using TIntEvent = TEvent<void(int)>;

TEST(EventTest, HandlersRemovedDuringAnInvocationRunAtMostOnceWithoutDeadlock) {
  TIntEvent LEvent;
  int LSelfCalls = 0, LSkippedCalls = 0;
  TIntEvent::TToken LSelf = 0, LSkipped = 0;
  LSelf = LEvent.Add([&](int) {
    ++LSelfCalls;
    LEvent.Remove(LSelf);
    LEvent.Remove(LSkipped);  // a later handler of the same invocation
  });
  LSkipped = LEvent.Add([&](int) { ++LSkippedCalls; });
  LEvent.Invoke(1);
  LEvent.Invoke(1);
  EXPECT_EQ(LSelfCalls, 1);
  EXPECT_EQ(LSkippedCalls, 0);
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
    for (int J = 0; J < 20; ++J) std::this_thread::yield();
    LEvent.Remove(LToken);
    *LRemoved = true;
  }
  LStop = true;
  LInvoker.join();
  EXPECT_EQ(LLateCalls, 0);
  EXPECT_GT(LCalls, 0);
}

}  // namespace
}  // namespace Orvane
