#include "OrvaneCore/Time/WaitableEvent.h"

namespace Orvane {

TWaitableEvent::TWaitableEvent(bool AManualReset, bool AInitialState)
    : FManualReset(AManualReset), FSignaled(AInitialState) {}

void TWaitableEvent::SetEvent() {
  {
    TMutexLock LLock(FLock);
    FSignaled = true;
  }
  if (FManualReset)
    FChanged.NotifyAll();
  else
    FChanged.NotifyOne();
}

TWaitResult TWaitableEvent::WaitFor(int64_t ATimeoutMs) {
  const TMonoTime LDeadline = ATimeoutMs < 0 ? CNoDeadline : Clock().DeadlineInMs(ATimeoutMs);
  TMutexLock LLock(FLock);
  if (!Clock().Wait(FChanged, LLock, LDeadline, [&] {
        FLock.AssertHeld();
        return FSignaled;
      }))
    return TWaitResult::wrTimeout;
  if (!FManualReset) FSignaled = false;
  return TWaitResult::wrSignaled;
}

bool TWaitableEvent::IsSignaledForTesting() {
  TMutexLock LLock(FLock);
  return FSignaled;
}

}  // namespace Orvane
