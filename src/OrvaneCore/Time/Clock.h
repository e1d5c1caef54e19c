#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Platform/ThreadAnnotations.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// A point on the clock's monotonic time line (nanoseconds from an arbitrary origin). Deadlines are
// monotonic, so a wall-clock step or a daylight-saving change never stretches a wait.
using TMonoTime = std::chrono::nanoseconds;
inline constexpr TMonoTime CNoDeadline = TMonoTime::max();

class TClockCondition;

// A lock as the clock sees it during a wait: released while the thread sleeps, held again before
// the wait returns.
struct TWaitLock {
  void* Object = nullptr;
  void (*Lock)(void*) = nullptr;
  void (*Unlock)(void*) = nullptr;

  template <class TLockable>
  static TWaitLock Of(TLockable& ALock) {
    return {&ALock, &LockIt<TLockable>, &UnlockIt<TLockable>};
  }
  static TWaitLock None() { return {}; }

private:
  // The wait hands the caller's lock back and forth; the analysis cannot follow that.
  template <class TLockable>
  static void LockIt(void* AObject) NO_THREAD_SAFETY_ANALYSIS {
    static_cast<TLockable*>(AObject)->lock();
  }
  template <class TLockable>
  static void UnlockIt(void* AObject) NO_THREAD_SAFETY_ANALYSIS {
    static_cast<TLockable*>(AObject)->unlock();
  }
};

// The one clock of the process. Every "now" and every blocking wait of the code base goes through
// it, so that tests can replace real time:
//
//   Real     the operating system's clocks.
//   Scaled   real time sped up by a factor from the moment the mode was set; waits and due
//            times stay consistent with each other.
//   Manual   time moves only when a test advances it. The clock knows which threads sleep on it and
//            which are busy, so Advance and WaitForSleepers return only once the threads that time
//            woke have run up to their next wait (or ended).
//
// All waits are TClock::Wait on a TClockCondition. A waiter registers with the clock under the
// clock's own mutex before it releases the caller's lock; notifications go through the clock under
// that mutex, so no wake-up is lost in any mode. The clock's mutex is the innermost lock of the
// process: the clock never calls out while holding it.
class TClock {
public:
  enum class TMode { Real, Scaled, Manual };

  static TClock& Instance();

  // Local wall-clock time.
  TDateTime Now();
  // UTC wall-clock time.
  TDateTime UtcNow();
  // Monotonic time (scaled or manual where the mode says so).
  TMonoTime Monotonic();
  // Monotonic now plus ASeconds; ASeconds <= 0 gives now.
  TMonoTime DeadlineIn(double ASeconds);
  TMonoTime DeadlineInMs(int64_t AMilliseconds);

  // Sleeps AMilliseconds of clock time.
  void SleepMs(int64_t AMilliseconds);

  // Waits until APredicate holds or ADeadline passes. ALock is held on entry and on return and
  // guards what APredicate reads; notifiers change that state under ALock, then notify ACondition.
  // Returns the predicate's last value.
  template <class TLockable, class TPredicate>
  bool Wait(TClockCondition& ACondition, TLockable& ALock, TMonoTime ADeadline, TPredicate APredicate) {
    while (!APredicate()) {
      if (!WaitOnce(ACondition, TWaitLock::Of(ALock), ADeadline)) return APredicate();
    }
    return true;
  }

  // One sleep on ACondition: returns false when ADeadline has passed, true when woken earlier
  // (by a notification or spuriously).
  bool WaitOnce(TClockCondition& ACondition, TWaitLock ALock, TMonoTime ADeadline);

  void NotifyOne(TClockCondition& ACondition);
  void NotifyAll(TClockCondition& ACondition);

  // ---- Modes (tests and the host program's --time-scale). Switch while no thread sleeps on the clock.
  void SetReal();
  // Real time sped up AFactor times from now on; the wall clock starts at the real wall clock.
  void SetScaled(double AFactor);
  // Manual time starting at the local wall-clock time AStartLocal.
  void SetManual(TDateTime AStartLocal);

  // ---- Manual mode.
  // Moves time forward by ADuration, deadline by deadline: at each deadline on the way the sleepers
  // that are due wake, and the clock waits (bounded by real time) until no thread is busy.
  void Advance(TMonoTime ADuration);
  void AdvanceSeconds(double ASeconds);
  void AdvanceMs(int64_t AMilliseconds);
  // Steps the wall clock alone (a clock set forward or back); monotonic time and deadlines stay.
  void StepWallClock(double ASeconds);
  // Returns when at least ACount threads sleep on the clock and no thread is busy. Throws
  // EClockTimeout naming the busy threads when that does not happen within AMaxRealMs of real time.
  void WaitForSleepers(int ACount, int64_t AMaxRealMs = 10000);
  // Names of the threads that sleep on the clock right now.
  std::vector<std::string> SleeperNames();

  // ---- Threads (manual-mode bookkeeping; harmless in the other modes).
  // A thread the clock should know about before it runs: the starter registers it as busy; the new
  // thread binds the record (BindCurrentThread) and it is forgotten when that thread ends.
  struct TThreadRecord;
  std::shared_ptr<TThreadRecord> PrepareThread(std::string AName);
  void BindCurrentThread(const std::shared_ptr<TThreadRecord>& ARecord);
  // Names the calling thread in messages about busy threads.
  void NameCurrentThread(std::string AName);

  // Real monotonic time, whatever the mode: for deadlines of I/O with other processes (a peer on a
  // socket does not run on our sped-up clock) and for tests that bound how long a wait really took.
  static TMonoTime RealMonotonic();

  TClock(const TClock&) = delete;
  TClock& operator=(const TClock&) = delete;

  struct TState;  // the clock's internals, in Clock.cpp

private:
  TClock();
  ~TClock();
  std::unique_ptr<TState> FState;
  friend class TClockCondition;
};

// A condition that threads wait on through the clock. It carries no state of its own beyond its
// identity; what the waiters wait for lives under the caller's lock.
class TClockCondition {
public:
  TClockCondition() = default;
  TClockCondition(const TClockCondition&) = delete;
  TClockCondition& operator=(const TClockCondition&) = delete;

  void NotifyOne() { TClock::Instance().NotifyOne(*this); }
  void NotifyAll() { TClock::Instance().NotifyAll(*this); }
};

inline TClock& Clock() {
  return TClock::Instance();
}

}  // namespace Orvane
