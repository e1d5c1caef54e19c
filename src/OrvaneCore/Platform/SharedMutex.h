#pragma once

#ifndef _WIN32
#include <shared_mutex>
#endif

namespace Orvane {

#ifdef _WIN32
// The system's slim reader/writer lock. On Windows std::shared_mutex stands on winpthread's
// read-write lock, which let two writers in at once under load.
class TSharedMutex {
public:
  TSharedMutex() = default;
  TSharedMutex(const TSharedMutex&) = delete;
  TSharedMutex& operator=(const TSharedMutex&) = delete;

  void lock();
  void unlock();
  void lock_shared();
  void unlock_shared();

private:
  void* FSlimLock = nullptr;  // an SRWLOCK, SRWLOCK_INIT
};
#else
using TSharedMutex = std::shared_mutex;
#endif

}  // namespace Orvane
