#pragma once

#include <atomic>
#include <thread>

#include "OrvaneCore/Platform/SharedMutex.h"
#include "OrvaneCore/Platform/ThreadAnnotations.h"

namespace Orvane {

// Multi-reader, exclusive-writer lock that lets the writing thread read again (and write again)
// while it holds the write lock, as the host's synchroniser does. A reader must not ask for the
// write lock while it reads: that would wait for itself.
//
// FWriter and FWriteDepth are touched only by the thread that holds the write lock (FWriter is
// atomic so that other threads may compare it with their own id without a data race).
class CAPABILITY("mutex") TNestedReadLock {
public:
  TNestedReadLock() = default;
  TNestedReadLock(const TNestedReadLock&) = delete;
  TNestedReadLock& operator=(const TNestedReadLock&) = delete;

  void BeginRead() ACQUIRE_SHARED();
  void EndRead() RELEASE_SHARED();
  void BeginWrite() ACQUIRE();
  void EndWrite() RELEASE();


private:
  bool CallerIsWriter() const {
    return FWriter.load(std::memory_order_acquire) == std::this_thread::get_id();
  }

  TSharedMutex FLock;
  std::atomic<std::thread::id> FWriter{};
  int FWriteDepth = 0;       // written by the writer only
  int FNestedReadDepth = 0;  // reads the writer took inside its write lock
};

class SCOPED_CAPABILITY TReadLock {
public:
  explicit TReadLock(TNestedReadLock& ALock) ACQUIRE_SHARED(ALock) : FLock(ALock) { FLock.BeginRead(); }
  ~TReadLock() RELEASE() { FLock.EndRead(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

private:
  TNestedReadLock& FLock;
};

class SCOPED_CAPABILITY TWriteLock {
public:
  explicit TWriteLock(TNestedReadLock& ALock) ACQUIRE(ALock) : FLock(ALock) { FLock.BeginWrite(); }
  ~TWriteLock() RELEASE() { FLock.EndWrite(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

private:
  TNestedReadLock& FLock;
};

}  // namespace Orvane
