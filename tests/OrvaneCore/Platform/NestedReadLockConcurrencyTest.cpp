#include <gtest/gtest.h>

#include <atomic>

#include "OrvaneCore/Platform/NestedReadLock.h"
#include "Support/RunConcurrently.h"

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
  constexpr int CRounds = 2000;
  TGuardedPair LPair;
  const auto LReader = [&] {
    for (int LRound = 0; LRound < CRounds; ++LRound) LPair.Read();
  };
  const auto LWriter = [&] {
    for (int LRound = 0; LRound < CRounds; ++LRound) LPair.Write();
  };
  Testing::RunConcurrently({LReader, LReader, LReader, LReader, LWriter, LWriter, LWriter});
  EXPECT_EQ(LPair.Total(), 3 * CRounds);
}

}  // namespace
}  // namespace Orvane
