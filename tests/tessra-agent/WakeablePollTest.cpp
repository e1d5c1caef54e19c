#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "WakeablePoll.h"

namespace Orvane {
namespace {

using TWaitResult = TWakeablePoll::TWaitResult;

TEST(WakeablePollTest, ReportsReadyItemsAndAWakeThatHoldsForEveryLaterWait) {
  int LPipe[2];
  ASSERT_EQ(::pipe2(LPipe, O_CLOEXEC), 0);
  const TFileHandle LReadEnd(LPipe[0]);
  const TFileHandle LWriteEnd(LPipe[1]);
  TWakeablePoll LPoll;
  // A skipped item, a pipe with nothing to read and one with room to write.
  std::vector<TWakeablePoll::TItem> LItems{{-1}, {LReadEnd.Get()}, {LWriteEnd.Get(), true}};
  ASSERT_EQ(LPoll.Wait(LItems, 0), TWaitResult::Polled);
  EXPECT_FALSE(LItems[0].Ready);
  EXPECT_FALSE(LItems[1].Ready);
  EXPECT_TRUE(LItems[2].Ready);
  ASSERT_EQ(::write(LWriteEnd.Get(), "x", 1), 1);
  ASSERT_EQ(LPoll.Wait(LItems, TWakeablePoll::CMaxWaitMs), TWaitResult::Polled);
  EXPECT_TRUE(LItems[1].Ready);

  // A wait without anything ready ends when another thread wakes it, and so does every later one.
  std::vector<TWakeablePoll::TItem> LIdle{{-1}};
  std::thread LWaker([&] { LPoll.Wake(); });
  EXPECT_EQ(LPoll.Wait(LIdle, TWakeablePoll::CMaxWaitMs), TWaitResult::Woken);
  LWaker.join();
  EXPECT_EQ(LPoll.Wait(LItems, TWakeablePoll::CMaxWaitMs), TWaitResult::Woken);
}

}  // namespace
}  // namespace Orvane
