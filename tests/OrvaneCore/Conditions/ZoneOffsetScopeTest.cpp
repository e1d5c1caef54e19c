#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {
namespace {

using namespace Testing;

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
  std::vector<TDateTime> LFirst(LCount), LNow(LCount), LLocal(LCount);
  for (std::size_t I = 0; I < LCount; ++I) {
    LFirst[I] = FirstUtcAtOrAfterLocal(LMoments[I]);
    LNow[I] = LocalNowToUtc(LMoments[I]);
    LLocal[I] = LocalOfUtc(LMoments[I]);
  }
  const TZoneOffsetScope LScope;
  // 389 is prime and no multiple of the count: every moment is visited once.
  for (std::size_t LVisited = 0, I = 0; LVisited < LCount; ++LVisited, I = (I + 389) % LCount) {
    EXPECT_AT(FirstUtcAtOrAfterLocal(LMoments[I]), LFirst[I]);
    EXPECT_AT(LocalNowToUtc(LMoments[I]), LNow[I]);
    EXPECT_AT(LocalOfUtc(LMoments[I]), LLocal[I]);
  }
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

TEST_F(TZoneOffsetScopeTest, ZoneChangeIsSeenByTheNextScopeNotByAnInnerOne) {
  const TDateTime LNoon = Utc(2026, 7, 1, 12);
  {
    const TZoneOffsetScope LOuter;
    EXPECT_AT(LocalOfUtc(LNoon), Local(2026, 7, 1, 14));
    const TTimeZoneScope LUtc("UTC0");
    const TZoneOffsetScope LInner;
    EXPECT_AT(LocalOfUtc(LNoon), Local(2026, 7, 1, 14));
  }
  const TTimeZoneScope LUtc("UTC0");
  const TZoneOffsetScope LNext;
  EXPECT_AT(LocalOfUtc(LNoon), Local(2026, 7, 1, 12));
}

}  // namespace
}  // namespace Orvane
