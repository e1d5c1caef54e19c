#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "OrvaneCore/Platform/NamedMutex.h"
#include "OrvaneCore/Platform/NestedReadLock.h"
#include "OrvaneCore/Platform/ThreadExit.h"
#include "Support/RunConcurrently.h"

namespace Orvane {
namespace {

// Threads that each make and drop their own objects of one name (in different cases) still
// exclude each other, and each may take it again while it holds it; the plain counter turns any gap into a
// TSan report and a lost increment.
TEST(NamedMutexConcurrencyTest, ObjectsMadeOnManyThreadsShareTheLock) {
  constexpr int CRounds = 2000;
  const std::size_t LBefore = TNamedMutex::RegisteredNameCountForTesting();
  const std::string LNames[] = {"SharedCounter", "sharedcounter", "SHAREDCOUNTER", "sHaReDcOuNtEr"};
  int LCounter = 0;
  std::vector<std::function<void()>> LBodies;
  for (const std::string& LName : LNames)
    LBodies.push_back([&] {
      for (int LRound = 0; LRound < CRounds; ++LRound) {
        TNamedMutex LMutex(LName);
        TNamedMutexLock LLock(LMutex);
        TNamedMutex LSame(LName);
        TNamedMutexLock LAgain(LSame);  // recursive on its own thread, through another object
        ++LCounter;
      }
    });
  Testing::RunConcurrently(LBodies);
  EXPECT_EQ(LCounter, 4 * CRounds);
  EXPECT_EQ(TNamedMutex::RegisteredNameCountForTesting(), LBefore);
}

// Writers keep FFirst == FSecond at every release, readers check it; the counters check that a
// writer is alone and readers meet no writer. The plain fields make any gap a TSan report as well.
class TGuardedPair {
public:
  // Re-entry is beyond what the thread-safety analysis models.
  void Write() NO_THREAD_SAFETY_ANALYSIS {
    TWriteLock LWrite(FLock);
    EXPECT_EQ(FWriters.fetch_add(1), 0);
    EXPECT_EQ(FReaders.load(), 0);
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
  TNestedReadLock FLock;
  int FFirst GUARDED_BY(FLock) = 0;
  int FSecond GUARDED_BY(FLock) = 0;
  std::atomic<int> FWriters{0}, FReaders{0};
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

std::atomic<int> GMade{0};
std::atomic<int> GDestroyed{0};
std::atomic<int> GOutOfOrder{0};

struct TFirst {
  TFirst() { ++GMade; }
  ~TFirst() {
    if (!SecondGone) ++GOutOfOrder;
    ++GDestroyed;
  }
  std::vector<int> Payload = std::vector<int>(64, 1);  // heap memory, freed by the destructor
  bool SecondGone = true;
};

struct TSecond {
  TSecond() : First(TPerThread<TFirst>::Get()) {
    ++GMade;
    First.SecondGone = false;
  }
  ~TSecond() {
    First.SecondGone = true;
    ++GDestroyed;
  }
  TFirst& First;
};

// Many short threads, each with objects of two kinds: every thread gets its own, and both go when
// the thread ends, the later one first. A thread_local object with a destructor crashed here on
// Windows now and then, destroyed after the runtime had freed its storage.
TEST(ThreadExitConcurrencyTest, EachThreadsObjectsGoWhenItEndsLatestFirst) {
  constexpr int CRounds = 40;
  constexpr int CThreads = 8;
  EXPECT_EQ(TPerThread<TFirst>::Find(), nullptr);
  for (int LRound = 0; LRound < CRounds; ++LRound) {
    std::vector<std::function<void()>> LBodies(CThreads, [] {
      TSecond& LSecond = TPerThread<TSecond>::Get();
      EXPECT_EQ(&LSecond.First, TPerThread<TFirst>::Find());
      EXPECT_EQ(&TPerThread<TSecond>::Get(), &LSecond);
      EXPECT_EQ(LSecond.First.Payload.size(), 64u);
    });
    Testing::RunConcurrently(LBodies);
  }
  EXPECT_EQ(GMade.load(), 2 * CRounds * CThreads);
  EXPECT_EQ(GDestroyed.load(), GMade.load());
  EXPECT_EQ(GOutOfOrder.load(), 0);
}

}  // namespace
}  // namespace Orvane
