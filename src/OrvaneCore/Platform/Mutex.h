#pragma once

#include <mutex>

#include "OrvaneCore/Platform/ThreadAnnotations.h"

namespace Orvane {

// A plain, non-recursive mutex that the thread-safety analysis can see. Clock waits take it as
// their lock (a recursive lock held twice cannot be released by a wait).
class CAPABILITY("mutex") TMutex {
public:
  TMutex() = default;
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  void lock() ACQUIRE() { FMutex.lock(); }
  void unlock() RELEASE() { FMutex.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return FMutex.try_lock(); }
  // Tells the analysis that the caller holds the mutex (in lambdas run under it, such as the
  // predicates of clock waits); checks nothing at run time.
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

private:
  std::mutex FMutex;
};

// Scoped lock for TMutex. Waits on the clock unlock and relock it through lock()/unlock().
class SCOPED_CAPABILITY TMutexLock {
public:
  explicit TMutexLock(TMutex& AMutex) ACQUIRE(AMutex) : FMutex(AMutex) { FMutex.lock(); }
  ~TMutexLock() RELEASE() { FMutex.unlock(); }
  TMutexLock(const TMutexLock&) = delete;
  TMutexLock& operator=(const TMutexLock&) = delete;

  // For clock waits: they release the mutex while sleeping and hold it again when they return.
  void lock() ACQUIRE() { FMutex.lock(); }
  void unlock() RELEASE() { FMutex.unlock(); }

private:
  TMutex& FMutex;
};

}  // namespace Orvane
