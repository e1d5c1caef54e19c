#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "OrvaneCore/Platform/ThreadExit.h"
#include "Support/RunConcurrently.h"

namespace Orvane {
namespace {

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
