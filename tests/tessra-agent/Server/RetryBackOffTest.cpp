#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "Server/RetryBackOff.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

using std::chrono::milliseconds, std::chrono::seconds;

TEST(RetryBackOffTest, WindowDoublesUpToTheCapTheDrawScalesItAndASuccessStartsOver) {
  Testing::TManualClockScope LClock;
  double LDraw = 0.5;
  TRetryBackOff LBackOff(10, 60, [&] { return LDraw; });
  // Half of 10, 20, 40, 60, 60, ... seconds; far past the cap the window neither grows nor overflows.
  for (const int64_t LExpected : {5, 10, 20, 30, 30})
    EXPECT_EQ(Clock().Monotonic() + seconds(LExpected), LBackOff.Failed()) << LBackOff.Failures();
  for (int32_t LFailure = 0; LFailure < 2000; ++LFailure) LBackOff.Failed();
  EXPECT_EQ(Clock().Monotonic() + seconds(30), LBackOff.Failed());
  LDraw = 0.0;
  EXPECT_EQ(Clock().Monotonic(), LBackOff.Failed());
  EXPECT_FALSE(LBackOff.Waiting());

  // A window is waited out; a success starts over.
  LDraw = 0.5;
  LBackOff = TRetryBackOff(4, 100, [&] { return LDraw; });
  EXPECT_FALSE(LBackOff.Waiting());
  LBackOff.Failed();
  LBackOff.Failed();
  EXPECT_TRUE(LBackOff.Waiting());
  Clock().Advance(milliseconds(3999));
  EXPECT_TRUE(LBackOff.Waiting());
  Clock().Advance(milliseconds(1));
  EXPECT_FALSE(LBackOff.Waiting());
  LBackOff.Failed();
  LBackOff.Succeeded();
  EXPECT_EQ(0, LBackOff.Failures());
  EXPECT_FALSE(LBackOff.Waiting());
  EXPECT_EQ(Clock().Monotonic() + seconds(2), LBackOff.Failed());
}

TEST(RetryBackOffTest, DefaultDrawsSpreadOverTheWholeWindow) {
  Testing::TManualClockScope LClock;
  TRetryBackOff LBackOff(8, 8);
  std::set<TMonoTime> LWaits;
  for (int32_t LDraw = 0; LDraw < 200; ++LDraw) LWaits.insert(LBackOff.Failed() - Clock().Monotonic());
  // Inside the window, both of its halves reached, and the draws differ.
  EXPECT_GE(*LWaits.begin(), TMonoTime::zero());
  EXPECT_LT(*LWaits.begin(), seconds(4));
  EXPECT_GT(*LWaits.rbegin(), seconds(4));
  EXPECT_LE(*LWaits.rbegin(), seconds(8));
  EXPECT_GT(LWaits.size(), 150u);
}

}  // namespace
}  // namespace Orvane
