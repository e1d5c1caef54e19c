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

TEST(EventTest, HandlersRunInOrderAndDisabledEventCallsNone) {
  TIntEvent LEvent;
  std::vector<int> LCalls;
  LEvent.Add([&](int A) { LCalls.push_back(A); });
  LEvent.Add([&](int A) { LCalls.push_back(A * 10); });
  LEvent.Invoke(2);
  EXPECT_EQ(LCalls, (std::vector<int>{2, 20}));
  LEvent.SetEnabled(false);
  LEvent.Invoke(3);
  EXPECT_EQ(LCalls.size(), 2u);
}

TEST(EventTest, HandlerThatRemovesItselfRunsOnceWithoutDeadlock) {
  TIntEvent LEvent;
  int LCalls = 0;
  TIntEvent::TToken LToken = 0;
  LToken = LEvent.Add([&](int) {
    ++LCalls;
    LEvent.Remove(LToken);
  });
  LEvent.Invoke(1);
  LEvent.Invoke(1);
  EXPECT_EQ(LCalls, 1);
  EXPECT_EQ(LEvent.Count(), 0u);
}

TEST(EventTest, HandlerRemovedByAnEarlierHandlerOfTheSameInvocationIsSkipped) {
  TIntEvent LEvent;
  int LSecondCalls = 0;
  TIntEvent::TToken LSecond = 0;
  LEvent.Add([&](int) { LEvent.Remove(LSecond); });
  LSecond = LEvent.Add([&](int) { ++LSecondCalls; });
  LEvent.Invoke(1);
  EXPECT_EQ(LSecondCalls, 0);
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
