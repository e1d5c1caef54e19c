#include <gtest/gtest.h>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionDaily.h"

namespace Orvane {
namespace {

using namespace Testing;

class TStartConditionDailyTest : public TConditionTest {
protected:
  std::shared_ptr<TStartConditionDaily> Daily(int AHour, int AMinute, uint8_t AWeekDays = CEveryDay) {
    auto LDaily = Make<TStartConditionDaily>();
    LDaily->SetTimeOfDay(AHour, AMinute);
    LDaily->SetWeekDays(AWeekDays);
    return LDaily;
  }
};

TEST_F(TStartConditionDailyTest, RunsOnChosenWeekdaysAndAMissedRunCatchesUpOnceAtStartOrSkips) {
  for (bool LCatchUp : {true, false}) {
    FStorage.Assign(TStartConditionStorage());
    auto LDaily = Daily(10, 0, CWorkDays);
    LDaily->SetCatchUp(LCatchUp);
    StartupPass(false);
    Walk(*LDaily, {{Local(2026, 1, 30, 8, 0), CNoDateTime},                       // Friday
                   {Local(2026, 1, 30, 10, 1), Local(2026, 1, 30, 10, 0), true},  //
                   {Local(2026, 1, 31, 10, 0), CNoDateTime},                      // Saturday
                   {Local(2026, 2, 1, 10, 0), CNoDateTime}});                     // Sunday
    EXPECT_AT(LDaily->NextPlannedTime(Local(2026, 2, 1, 10, 0), FStorage), Local(2026, 2, 2, 10, 0));
    // Off from Sunday to Tuesday morning: Monday's run was missed (one run, not two).
    StartupPass();
    Walk(*LDaily, {{Local(2026, 2, 3, 8, 0), LCatchUp ? Local(2026, 2, 2, 10, 0) : CNoDateTime}});
    StartupPass(false);
    Walk(*LDaily, {{Local(2026, 2, 3, 8, 1), LCatchUp ? Local(2026, 2, 2, 10, 0) : CNoDateTime, LCatchUp},
                   {Local(2026, 2, 3, 9, 59), CNoDateTime},
                   {Local(2026, 2, 3, 10, 0), Local(2026, 2, 3, 10, 0)}});
  }
}

TEST_F(TStartConditionDailyTest, ClockSetBackAfterTheRunDoesNotRepeatIt) {
  auto LDaily = Daily(10, 0);
  Walk(*LDaily, {{Local(2026, 1, 5, 9, 0), CNoDateTime},
                 {Local(2026, 1, 5, 10, 0, 30), Local(2026, 1, 5, 10, 0), true},
                 {Local(2026, 1, 5, 9, 30), CNoDateTime},  // set back an hour
                 {Local(2026, 1, 5, 10, 0), CNoDateTime},
                 {Local(2026, 1, 5, 10, 30), CNoDateTime},
                 {Local(2026, 1, 6, 10, 0), Local(2026, 1, 6, 10, 0)}});
  // The same across midnight.
  FStorage.Assign(TStartConditionStorage());
  auto LMidnight = Daily(0, 5);
  Walk(*LMidnight, {{Local(2026, 1, 6, 12, 0), CNoDateTime},
                    {Local(2026, 1, 7, 0, 6), Local(2026, 1, 7, 0, 5), true},
                    {Local(2026, 1, 6, 23, 10), CNoDateTime},  // set back an hour
                    {Local(2026, 1, 7, 0, 5), CNoDateTime},
                    {Local(2026, 1, 8, 0, 5), Local(2026, 1, 8, 0, 5)}});
}

TEST_F(TStartConditionDailyTest, FollowsTheLocalClockAcrossDaylightSavingChanges) {
  // 08:00 stays 08:00 in both directions.
  auto LMorning = Daily(8, 0);
  Walk(*LMorning, {{Local(2026, 3, 28, 7, 0), CNoDateTime},
                   {Local(2026, 3, 28, 8, 0), Local(2026, 3, 28, 8, 0), true},
                   {Local(2026, 3, 29, 7, 59), CNoDateTime},
                   {Local(2026, 3, 29, 8, 0), Local(2026, 3, 29, 8, 0)}});
  FStorage.Assign(TStartConditionStorage());
  Walk(*LMorning, {{Local(2026, 10, 24, 7, 0), CNoDateTime},
                   {Local(2026, 10, 24, 8, 0), Local(2026, 10, 24, 8, 0), true},
                   {Local(2026, 10, 25, 7, 59), CNoDateTime},
                   {Local(2026, 10, 25, 8, 0), Local(2026, 10, 25, 8, 0)}});
}

TEST_F(TStartConditionDailyTest, TimeTheClockSkipsFallsOnTheChange) {
  auto LNight = Daily(2, 30);
  Walk(*LNight, {{Local(2026, 3, 28, 2, 0), CNoDateTime},
                 {Local(2026, 3, 28, 2, 31), Local(2026, 3, 28, 2, 30), true},
                 {Local(2026, 3, 29, 1, 59), CNoDateTime},
                 {Local(2026, 3, 29, 3, 1), Local(2026, 3, 29, 3, 0), true},
                 {Local(2026, 3, 29, 3, 30), CNoDateTime},
                 {Local(2026, 3, 30, 2, 30), Local(2026, 3, 30, 2, 30)}});
}

TEST_F(TStartConditionDailyTest, TimeTheClockRepeatsRunsOnce) {
  auto LNight = Daily(2, 30);
  Walk(*LNight, {{Local(2026, 10, 24, 2, 0), CNoDateTime},
                 {Local(2026, 10, 24, 2, 31), Local(2026, 10, 24, 2, 30), true},
                 {Local(2026, 10, 25, 2, 29), CNoDateTime},
                 {Local(2026, 10, 25, 2, 31), Local(2026, 10, 25, 2, 30), true}});  // summer time
  ClockAtUtc(Utc(2026, 10, 25, 1, 45));  // 02:45 winter time: the hour again
  Walk(*LNight, {{Local(2026, 10, 25, 2, 45), CNoDateTime},
                 {Local(2026, 10, 25, 3, 30), CNoDateTime},
                 {Local(2026, 10, 26, 2, 30), Local(2026, 10, 26, 2, 30)}});
}

}  // namespace
}  // namespace Orvane
