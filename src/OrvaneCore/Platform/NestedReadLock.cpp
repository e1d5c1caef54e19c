#include "OrvaneCore/Platform/NestedReadLock.h"

namespace Orvane {

void TNestedReadLock::BeginRead() NO_THREAD_SAFETY_ANALYSIS {
  if (CallerIsWriter()) {
    ++FNestedReadDepth;
    return;
  }
  FLock.lock_shared();
}

void TNestedReadLock::EndRead() NO_THREAD_SAFETY_ANALYSIS {
  if (CallerIsWriter()) {
    --FNestedReadDepth;
    return;
  }
  FLock.unlock_shared();
}

void TNestedReadLock::BeginWrite() NO_THREAD_SAFETY_ANALYSIS {
  if (CallerIsWriter()) {
    ++FWriteDepth;
    return;
  }
  FLock.lock();
  FWriter.store(std::this_thread::get_id(), std::memory_order_release);
  FWriteDepth = 1;
}

void TNestedReadLock::EndWrite() NO_THREAD_SAFETY_ANALYSIS {
  if (--FWriteDepth > 0) return;
  FWriter.store(std::thread::id(), std::memory_order_release);
  FLock.unlock();
}

}  // namespace Orvane
