#include "OrvaneCore/Platform/ThreadPriority.h"

#include <windows.h>

namespace Orvane {

namespace {

int WindowsPriorityOf(TThreadPriority APriority) {
  switch (APriority) {
    case TThreadPriority::tpIdle:
      return THREAD_PRIORITY_IDLE;
    case TThreadPriority::tpLowest:
      return THREAD_PRIORITY_LOWEST;
    case TThreadPriority::tpLower:
      return THREAD_PRIORITY_BELOW_NORMAL;
    case TThreadPriority::tpNormal:
      return THREAD_PRIORITY_NORMAL;
    case TThreadPriority::tpHigher:
      return THREAD_PRIORITY_ABOVE_NORMAL;
    case TThreadPriority::tpHighest:
      return THREAD_PRIORITY_HIGHEST;
    case TThreadPriority::tpTimeCritical:
      return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return THREAD_PRIORITY_NORMAL;
}

}  // namespace

int CurrentNativeThreadId() {
  return static_cast<int>(::GetCurrentThreadId());
}

void SetNativeThreadPriority(int ANativeThreadId, TThreadPriority APriority) {
  const HANDLE LThread = ::OpenThread(THREAD_SET_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(ANativeThreadId));
  if (!LThread) return;
  (void)::SetThreadPriority(LThread, WindowsPriorityOf(APriority));
  ::CloseHandle(LThread);
}

}  // namespace Orvane
