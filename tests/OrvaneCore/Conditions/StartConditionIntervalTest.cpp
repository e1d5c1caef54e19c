#include <gtest/gtest.h>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"

namespace Orvane {
namespace {

using namespace Testing;

class TStartConditionIntervalTest : public TConditionTest {
protected:
  std::shared_ptr<TStartConditionInterval> Every(int32_t AValue, TDelayUnit AUnit = TDelayUnit::duMinutes) {
    auto LInterval = Make<TStartConditionInterval>();
    LInterval->SetIntervalValue(AValue);
    LInterval->SetIntervalUnit(AUnit);
    return LInterval;
  }
};

TEST_F(TStartConditionIntervalTest, CountsRealElapsedTimeAcrossDaylightSavingChanges) {
  auto LHourly = Every(1, TDelayUnit::duHours);
  // Spring: the last run at 01:30 winter time; 03:00 summer time is only half an hour later.
  FStorage.SetLastRun(Utc(2026, 3, 29, 0, 30));
  EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 3, 29, 3, 0), FStorage), CNoDateTime);
  EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 3, 29, 3, 29), FStorage), CNoDateTime);
  EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 3, 29, 3, 30), FStorage), Local(2026, 3, 29, 3, 30));

  // Autumn: the last run at 02:40 summer time is due again at 02:40 winter time, an hour later.
  FStorage.SetLastRun(Utc(2026, 10, 25, 0, 40));
  EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 10, 25, 3, 0), FStorage), Local(2026, 10, 25, 2, 40));
  ClockAtUtc(Utc(2026, 10, 25, 1, 30));
  EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 10, 25, 2, 30), FStorage), CNoDateTime);
  ClockAtUtc(Utc(2026, 10, 25, 1, 40));
  EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 10, 25, 2, 40), FStorage), Local(2026, 10, 25, 2, 40));
}

TEST_F(TStartConditionIntervalTest, RunInTheRepeatedHourIsRecordedAtItsRealMoment) {
  auto LInterval = Every(30);
  ClockAtUtc(Utc(2026, 10, 25, 1, 50));  // 02:50 winter time
  LInterval->SetAlreadyRunFlag(true, Local(2026, 10, 25, 2, 50), FStorage);
  EXPECT_AT(FStorage.GetLastRun(), Utc(2026, 10, 25, 1, 50));
  ClockAtUtc(Utc(2026, 10, 25, 2, 0));
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 10, 25, 3, 0), FStorage), CNoDateTime);
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 10, 25, 3, 19), FStorage), CNoDateTime);
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 10, 25, 3, 20), FStorage), Local(2026, 10, 25, 3, 20));
}

TEST_F(TStartConditionIntervalTest, MissedRunsCatchUpOnceOrSkipToTheNextRegularTime) {
  for (bool LCatchUp : {true, false}) {
    TStartConditionStorage LStorage;
    LStorage.SetLastRun(LocalToUtc(Local(2026, 1, 5, 8, 0)));
    auto LHourly = Every(60);
    LHourly->SetCatchUp(LCatchUp);
    StartupPass();  // off from 08:30 to 11:20
    EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 1, 5, 11, 20), LStorage),
              LCatchUp ? Local(2026, 1, 5, 9, 0) : CNoDateTime);
    NormalPass();
    if (LCatchUp) continue;
    EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 1, 5, 11, 59), LStorage), CNoDateTime);
    EXPECT_AT(LHourly->CalcNextExecution(Local(2026, 1, 5, 12, 0), LStorage), Local(2026, 1, 5, 12, 0));
  }
}

TEST_F(TStartConditionIntervalTest, ClockSetBackNeitherRepeatsNorShortensTheInterval) {
  auto LInterval = Every(30);
  FStorage.SetLastRun(LocalToUtc(Local(2026, 1, 5, 10, 0)));
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 1, 5, 9, 40), FStorage), CNoDateTime);  // set back 1 h
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 1, 5, 10, 29), FStorage), CNoDateTime);
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 1, 5, 10, 30), FStorage), Local(2026, 1, 5, 10, 30));

  // Set back by days (a clock that ran ahead, corrected): the future last run is not trusted, the
  // interval counts afresh from now instead of stalling until the clock catches up.
  FStorage.SetLastRun(LocalToUtc(Local(2026, 1, 10, 10, 0)));
  EXPECT_AT(LInterval->CalcNextExecution(Local(2026, 1, 5, 12, 0), FStorage), Local(2026, 1, 5, 12, 0));
  LInterval->SetAlreadyRunFlag(true, Local(2026, 1, 5, 12, 0), FStorage);
  EXPECT_AT(LInterval->NextPlannedTime(Local(2026, 1, 5, 12, 1), FStorage), Local(2026, 1, 5, 12, 30));
}

}  // namespace
}  // namespace Orvane
