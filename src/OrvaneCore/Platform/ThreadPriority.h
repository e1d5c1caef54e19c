#pragma once

namespace Orvane {

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The calling thread's id as the system knows it (never 0).
int CurrentNativeThreadId();

// Gives the thread ANativeThreadId the priority APriority, as far as the process may: best effort,
// since an unprivileged process may lower its threads' priority but not raise it.
void SetNativeThreadPriority(int ANativeThreadId, TThreadPriority APriority);

}  // namespace Orvane
