#include "OrvaneCore/Platform/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Orvane {

namespace {

int NiceOf(TThreadPriority APriority) {
  switch (APriority) {
    case TThreadPriority::tpIdle:
      return 19;
    case TThreadPriority::tpLowest:
      return 10;
    case TThreadPriority::tpLower:
      return 5;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return -5;
    case TThreadPriority::tpHighest:
      return -10;
    case TThreadPriority::tpTimeCritical:
      return -20;
  }
  return 0;
}

}  // namespace

int CurrentNativeThreadId() {
  return static_cast<int>(syscall(SYS_gettid));
}

void SetNativeThreadPriority(int ANativeThreadId, TThreadPriority APriority) {
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(ANativeThreadId), NiceOf(APriority));
}

}  // namespace Orvane
