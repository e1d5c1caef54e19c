#pragma once

#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane::Testing {

// Lets a number of threads start together: each arrives and waits until all have. It spins
// (yielding) for that short moment instead of waiting like std::latch, whose wait lost a wake-up
// on Windows (mingw's libstdc++ has no futex under its atomic waits) and left a thread behind.
class TStartGate {
public:
  explicit TStartGate(int ACount) : FLeft(ACount) {}
  void ArriveAndWait() {
    FLeft.fetch_sub(1);
    while (FLeft.load() > 0) std::this_thread::yield();
  }

private:
  std::atomic<int> FLeft;
};

// Runs the bodies on threads of their own, started together so that they overlap as much as the
// machine allows, and joins them. A deadlock ends the process after a bound instead of hanging the
// run: the threads could not be joined then.
inline void RunConcurrently(const std::vector<std::function<void()>>& ABodies) {
  TMutex LLock;
  TClockCondition LAllDone;
  int LDone = 0;
  TStartGate LStart(static_cast<int>(ABodies.size()));
  std::vector<std::thread> LThreads;
  for (const std::function<void()>& LBody : ABodies) {
    LThreads.emplace_back([&, LBody] {
      LStart.ArriveAndWait();
      LBody();
      TMutexLock LGuard(LLock);
      ++LDone;
      LAllDone.NotifyAll();
    });
  }
  bool LFinished;
  {
    TMutexLock LGuard(LLock);
    LFinished = Clock().Wait(LAllDone, LGuard, Clock().DeadlineIn(120), [&] {
      LLock.AssertHeld();
      return LDone == static_cast<int>(ABodies.size());
    });
  }
  if (!LFinished) {
    std::fprintf(stderr, "Test threads did not finish within 120 seconds: deadlock\n");
    std::abort();
  }
  for (std::thread& LThread : LThreads) LThread.join();
}

}  // namespace Orvane::Testing
