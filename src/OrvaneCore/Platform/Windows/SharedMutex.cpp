#include "OrvaneCore/Platform/SharedMutex.h"

#include <windows.h>

namespace Orvane {

static_assert(sizeof(SRWLOCK) == sizeof(void*));

void TSharedMutex::lock() {
  ::AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&FSlimLock));
}

void TSharedMutex::unlock() {
  ::ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&FSlimLock));
}

void TSharedMutex::lock_shared() {
  ::AcquireSRWLockShared(reinterpret_cast<PSRWLOCK>(&FSlimLock));
}

void TSharedMutex::unlock_shared() {
  ::ReleaseSRWLockShared(reinterpret_cast<PSRWLOCK>(&FSlimLock));
}

}  // namespace Orvane
