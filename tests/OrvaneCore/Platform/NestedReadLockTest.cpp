#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "OrvaneCore/Platform/NestedReadLock.h"

namespace Orvane {
namespace {

// Spins (yielding) until APredicate holds or the bound runs out; no wall-clock time involved.
template <class TPredicate>
bool SpinUntil(TPredicate APredicate, int AMaxSpins = 10'000'000) {
  for (int LSpin = 0; LSpin < AMaxSpins; ++LSpin) {
    if (APredicate()) return true;
    std::this_thread::yield();
  }
  return APredicate();
}

// Re-entry is beyond what the thread-safety analysis models.
void WriteReadAndWriteAgain(TNestedReadLock& ALock) NO_THREAD_SAFETY_ANALYSIS {
  ALock.BeginWrite();
  ALock.BeginRead();
  ALock.BeginWrite();
  EXPECT_TRUE(ALock.IsWriterForTesting());
  ALock.EndWrite();
  ALock.EndRead();
  EXPECT_TRUE(ALock.IsWriterForTesting());
  ALock.EndWrite();
  EXPECT_FALSE(ALock.IsWriterForTesting());
}

TEST(NestedReadLockTest, WriterReadsAndWritesAgainThenReleasesFully) {
  TNestedReadLock LLock;
  WriteReadAndWriteAgain(LLock);

  // Released at every level: another thread gets both locks.
  std::thread LOther([&] {
    { TWriteLock LWrite(LLock); }
    TReadLock LRead(LLock);
  });
  LOther.join();
}

TEST(NestedReadLockTest, TwoReadersAreInsideTogether) {
  TNestedReadLock LLock;
  std::atomic<int> LInside{0};
  std::atomic<int> LSawBoth{0};
  std::atomic<int> LDone{0};
  auto LReader = [&] {
    TReadLock LRead(LLock);
    ++LInside;
    if (SpinUntil([&] { return LInside.load() == 2; })) ++LSawBoth;
    // Stay inside until the other reader has looked too.
    ++LDone;
    SpinUntil([&] { return LDone.load() == 2; });
  };
  std::thread LFirst(LReader);
  std::thread LSecond(LReader);
  LFirst.join();
  LSecond.join();
  EXPECT_EQ(LSawBoth.load(), 2);
}

// Another thread asking to read (or to write) while this one writes must wait for EndWrite.
void ExpectExcludedByWriter(bool AOtherWrites) {
  TNestedReadLock LLock;
  int LValue = 1;  // plain: a reader let in early also shows up as a race under TSan
  std::atomic<bool> LStarted{false};
  int LSeen = 0;
  LLock.BeginWrite();
  std::thread LOther([&] {
    LStarted = true;
    if (AOtherWrites) {
      TWriteLock LWrite(LLock);
      LSeen = LValue;
    } else {
      TReadLock LRead(LLock);
      LSeen = LValue;
    }
  });
  EXPECT_TRUE(SpinUntil([&] { return LStarted.load(); }));
  SpinUntil([] { return false; }, 2000);  // give the other thread every chance to barge in
  LValue = 2;
  LLock.EndWrite();
  LOther.join();
  EXPECT_EQ(LSeen, 2);
}

TEST(NestedReadLockTest, WriterExcludesReadersAndWriters) {
  ExpectExcludedByWriter(false);
  ExpectExcludedByWriter(true);
}

}  // namespace
}  // namespace Orvane
