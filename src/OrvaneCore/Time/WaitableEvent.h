#pragma once

#include <cstdint>

#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

enum class TWaitResult { wrSignaled, wrTimeout };

// An event object with timed waits on the clock: manual or automatic reset, signalled or not at
// creation. An auto-reset event lets one waiter through per signal.
class TWaitableEvent {
public:
  TWaitableEvent(bool AManualReset, bool AInitialState);
  TWaitableEvent(const TWaitableEvent&) = delete;
  TWaitableEvent& operator=(const TWaitableEvent&) = delete;

  void SetEvent();
  // Waits up to ATimeoutMs of clock time; a negative time-out waits without a bound.
  TWaitResult WaitFor(int64_t ATimeoutMs);
  bool IsSignaledForTesting();

private:
  const bool FManualReset;
  TMutex FLock;
  bool FSignaled GUARDED_BY(FLock);
  TClockCondition FChanged;
};

}  // namespace Orvane
