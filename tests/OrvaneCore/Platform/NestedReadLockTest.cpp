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

}  // namespace
}  // namespace Orvane
