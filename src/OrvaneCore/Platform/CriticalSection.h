#pragma once

#include <mutex>

#include "OrvaneCore/Platform/ThreadAnnotations.h"

namespace Orvane {

// The host's critical section: recursive, as on Windows, so that a thread that holds it may enter
// it again (the pool's lock is re-entered by event handlers that run under it).
// Never wait on the clock while holding it: a wait releases one level only.
class CAPABILITY("mutex") TCriticalSection {
public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter() ACQUIRE() { FMutex.lock(); }
  void Leave() RELEASE() { FMutex.unlock(); }
  bool TryEnter() TRY_ACQUIRE(true) { return FMutex.try_lock(); }
  void AssertHeld() const ASSERT_CAPABILITY(this) {}

  void lock() ACQUIRE() { FMutex.lock(); }
  void unlock() RELEASE() { FMutex.unlock(); }

private:
  std::recursive_mutex FMutex;
};

class SCOPED_CAPABILITY TCriticalSectionLock {
public:
  explicit TCriticalSectionLock(TCriticalSection& ASection) ACQUIRE(ASection) : FSection(ASection) {
    FSection.Enter();
  }
  ~TCriticalSectionLock() RELEASE() { FSection.Leave(); }
  TCriticalSectionLock(const TCriticalSectionLock&) = delete;
  TCriticalSectionLock& operator=(const TCriticalSectionLock&) = delete;

private:
  TCriticalSection& FSection;
};

}  // namespace Orvane
