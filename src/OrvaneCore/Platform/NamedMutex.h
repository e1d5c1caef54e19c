#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "OrvaneCore/Platform/ThreadAnnotations.h"

namespace Orvane {

// The host's named mutex: every TNamedMutex of the same name in the process locks the same
// recursive mutex (names compare case-insensitively, ASCII letters only), so that independent
// objects (the job list providers of one action class, say) serialise without knowing each other.
//
// In-process only: nothing here is visible to other processes. A second agent process is kept out
// by the agent's instance lock, not by these mutexes.
//
// The underlying mutex lives as long as some TNamedMutex of its name exists; the next object of
// that name after the last one has gone gets a fresh one.
class CAPABILITY("mutex") TNamedMutex {
public:
  explicit TNamedMutex(std::string_view AName);
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  const std::string& Name() const { return FName; }

  void Acquire() ACQUIRE() { FMutex->lock(); }
  void Release() RELEASE() { FMutex->unlock(); }
  bool TryAcquire() TRY_ACQUIRE(true) { return FMutex->try_lock(); }

  void lock() ACQUIRE() { FMutex->lock(); }
  void unlock() RELEASE() { FMutex->unlock(); }
  // Tells the analysis that the caller holds the mutex (lambdas run under it).
  void AssertHeld() const ASSERT_CAPABILITY(this) {}
  bool try_lock() TRY_ACQUIRE(true) { return FMutex->try_lock(); }

  // Number of names that currently have a mutex in the registry.
  static std::size_t RegisteredNameCountForTesting();

private:
  std::string FName;  // as given; the registry key is its folded form
  std::shared_ptr<std::recursive_mutex> FMutex;
};

class SCOPED_CAPABILITY TNamedMutexLock {
public:
  explicit TNamedMutexLock(TNamedMutex& AMutex) ACQUIRE(AMutex) : FMutex(AMutex) { FMutex.Acquire(); }
  ~TNamedMutexLock() RELEASE() { FMutex.Release(); }
  TNamedMutexLock(const TNamedMutexLock&) = delete;
  TNamedMutexLock& operator=(const TNamedMutexLock&) = delete;

private:
  TNamedMutex& FMutex;
};

}  // namespace Orvane
