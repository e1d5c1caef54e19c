#include <gtest/gtest.h>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {
namespace {

using namespace Testing;

using TStartConditionTimeTest = TConditionTest;

TEST_F(TStartConditionTimeTest, FirstUtcAtOrAfterLocalSettlesSkippedAndRepeatedTimes) {
  struct TCase {
    TDateTime LocalTime;
    TDateTime Expected;
  };
  const TCase LCases[] = {
      {Local(2026, 1, 31, 23, 30), Utc(2026, 1, 31, 22, 30)},  // winter
      {Local(2026, 7, 1, 0, 0), Utc(2026, 6, 30, 22, 0)},      // summer, across a month end
      {Local(2026, 3, 29, 1, 59), Utc(2026, 3, 29, 0, 59)},    // just before the jump
      {Local(2026, 3, 29, 2, 30), Utc(2026, 3, 29, 1, 0)},     // skipped: the moment of the jump
      {Local(2026, 3, 29, 3, 0), Utc(2026, 3, 29, 1, 0)},
      {Local(2026, 10, 25, 1, 59), Utc(2026, 10, 24, 23, 59)},
      {Local(2026, 10, 25, 2, 30), Utc(2026, 10, 25, 0, 30)},  // repeated: the first of the two
      {Local(2026, 10, 25, 3, 0), Utc(2026, 10, 25, 2, 0)},
  };
  for (const TCase& LCase : LCases)
    EXPECT_EQ(DateTimeToDisplay(FirstUtcAtOrAfterLocal(LCase.LocalTime)), DateTimeToDisplay(LCase.Expected))
        << DateTimeToDisplay(LCase.LocalTime);
}

TEST_F(TStartConditionTimeTest, LocalNowTakesTheRepeatedHourWhereTheClockIs) {
  // The clock elsewhere: the first occurrence, every time.
  EXPECT_EQ(LocalNowToUtc(Local(2026, 10, 25, 2, 30)), FirstUtcAtOrAfterLocal(Local(2026, 10, 25, 2, 30)));

  ClockAtUtc(Utc(2026, 10, 25, 1, 40));  // 02:40 winter time, the second time round
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 2, 40)), Utc(2026, 10, 25, 1, 40)));
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 2, 30)), Utc(2026, 10, 25, 1, 30)));
  // A time the clock has not reached the second time round is still the first one.
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 2, 50)), Utc(2026, 10, 25, 0, 50)));
  // Times outside the repeated hour have one moment whatever the clock says.
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 3, 10)), Utc(2026, 10, 25, 2, 10)));
}

}  // namespace
}  // namespace Orvane
