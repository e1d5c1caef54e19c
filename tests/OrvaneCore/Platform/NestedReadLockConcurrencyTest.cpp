#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "OrvaneCore/Platform/NestedReadLock.h"

namespace Orvane {
namespace {

// Writers keep FFirst == FSecond at every release, readers check it; the counters check that a
// writer is alone and readers meet no writer. The plain fields make any gap a TSan report as well.
class TGuardedPair {
public:
  // Re-entry is beyond what the thread-safety analysis models.
  void Write() NO_THREAD_SAFETY_ANALYSIS {
    TWriteLock LWrite(FLock);
    EnterWriter();
    ++FFirst;
    {
      TReadLock LRead(FLock);  // the writer reads its own half-done state
      EXPECT_EQ(FFirst, FSecond + 1);
      TWriteLock LAgain(FLock);
      ++FSecond;
    }
    FWriters.fetch_sub(1);
  }

  void Read() {
    TReadLock LRead(FLock);
    FReaders.fetch_add(1);
    EXPECT_EQ(FWriters.load(), 0);
    EXPECT_EQ(FFirst, FSecond);
    FReaders.fetch_sub(1);
  }

  int Total() {
    TReadLock LRead(FLock);
    return FSecond;
  }

private:
  void EnterWriter() {
    EXPECT_EQ(FWriters.fetch_add(1), 0);
    EXPECT_EQ(FReaders.load(), 0);
  }

  TNestedReadLock FLock;
  int FFirst GUARDED_BY(FLock) = 0;
  int FSecond GUARDED_BY(FLock) = 0;
  std::atomic<int> FWriters{0};
  std::atomic<int> FReaders{0};
};

TEST(NestedReadLockConcurrencyTest, ReadersAndWritersKeepTheInvariant) {
  constexpr int CReaders = 4;
  constexpr int CWriters = 3;
  constexpr int CRounds = 2000;
  TGuardedPair LPair;
  std::vector<std::thread> LThreads;
  for (int LIndex = 0; LIndex < CReaders; ++LIndex) {
    LThreads.emplace_back([&] {
      for (int LRound = 0; LRound < CRounds; ++LRound) LPair.Read();
    });
  }
  for (int LIndex = 0; LIndex < CWriters; ++LIndex) {
    LThreads.emplace_back([&] {
      for (int LRound = 0; LRound < CRounds; ++LRound) LPair.Write();
    });
  }
  for (std::thread& LThread : LThreads) LThread.join();
  EXPECT_EQ(LPair.Total(), CWriters * CRounds);
}

}  // namespace
}  // namespace Orvane
