#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

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
    EXPECT_AT(FirstUtcAtOrAfterLocal(LCase.LocalTime), LCase.Expected) << DateTimeToDisplay(LCase.LocalTime);
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

using TZoneOffsetScopeTest = TConditionTest;

// Every conversion once without a scope (the C library's answer) and once inside one scope that
// lives through the whole sweep, asked in an order that jumps back and forth across both changes of
// the year.
void ExpectScopeAnswersAsTheLibrary(std::initializer_list<std::pair<TDateTime, TDateTime>> ARanges) {
  std::vector<TDateTime> LMoments;
  const double LStep = (7 * 60 + 13) / CSecondsPerDay;
  for (const auto& [LFrom, LTo] : ARanges)
    for (TDateTime LMoment = LFrom; LMoment < LTo; LMoment += LStep) LMoments.push_back(LMoment);
  const std::size_t LCount = LMoments.size();
  const auto Answers = [](TDateTime A) {
    return DateTimeToDisplay(FirstUtcAtOrAfterLocal(A)) + " " + DateTimeToDisplay(LocalNowToUtc(A)) + " " +
           DateTimeToDisplay(LocalOfUtc(A));
  };
  std::vector<std::string> LLibrary;
  for (TDateTime LMoment : LMoments) LLibrary.push_back(Answers(LMoment));
  const TZoneOffsetScope LScope;
  // 389 is prime and no multiple of the count: every moment is visited once.
  for (std::size_t LVisited = 0, I = 0; LVisited < LCount; ++LVisited, I = (I + 389) % LCount)
    EXPECT_EQ(Answers(LMoments[I]), LLibrary[I]);
}

TEST_F(TZoneOffsetScopeTest, AnswersAsTheLibraryAcrossDaylightSavingChanges) {
  ClockAtUtc(Utc(2026, 10, 25, 1, 40));  // inside the repeated hour: LocalNowToUtc asks the clock
  ExpectScopeAnswersAsTheLibrary({{Local(2026, 3, 26, 0), Local(2026, 4, 1, 0)},
                                  {Local(2026, 7, 1, 0), Local(2026, 7, 2, 0)},
                                  {Local(2026, 10, 22, 0), Local(2026, 10, 28, 0)}});
  // A zone whose offset has half hours and whose summer spans the turn of the year.
  const TTimeZoneScope LAdelaide("ACST-9:30ACDT,M10.1.0,M4.1.0/3");
  ExpectScopeAnswersAsTheLibrary({{Local(2026, 4, 2, 0), Local(2026, 4, 7, 0)},
                                  {Local(2026, 7, 1, 0), Local(2026, 7, 2, 0)},
                                  {Local(2026, 10, 1, 0), Local(2026, 10, 6, 0)}});
}

}  // namespace
}  // namespace Orvane
