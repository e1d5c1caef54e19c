#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane::Testing {

// Runs the bodies on threads of their own, started together so that they overlap as much as the
// machine allows, and joins them. A deadlock ends the process after a bound instead of hanging the
// run: the threads could not be joined then.
inline void RunConcurrently(const std::vector<std::function<void()>>& ABodies) {
  TMutex LLock;
  TClockCondition LAllDone;
  int LDone = 0;
  std::latch LStart(static_cast<std::ptrdiff_t>(ABodies.size()));
  std::vector<std::thread> LThreads;
  for (const std::function<void()>& LBody : ABodies) {
    LThreads.emplace_back([&, LBody] {
      LStart.arrive_and_wait();
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
