#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Conditions/StartConditionStorage.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "Support/ClockScope.h"
#include "Support/TimeZoneScope.h"

namespace Orvane::Testing {

// A local wall-clock time, and a UTC moment, as TDateTime.
inline TDateTime Local(int AYear, int AMonth, int ADay, int AHour, int AMinute = 0, int ASecond = 0) {
  return EncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, ASecond);
}
inline TDateTime Utc(int AYear, int AMonth, int ADay, int AHour, int AMinute = 0, int ASecond = 0) {
  return EncodeDateTime(AYear, AMonth, ADay, AHour, AMinute, ASecond);
}

// Moments compared as text, so that a failing comparison reads as times.
#define EXPECT_AT(AActual, AExpected) EXPECT_EQ(DateTimeToDisplay(AActual), DateTimeToDisplay(AExpected))

// Conditions are evaluated at fixed instants, without threads. The manual clock sits far from the
// instants tested; only the resolution of the hour a fall-back repeats looks at it, and the tests of
// that move it there.
class TConditionTest : public ::testing::Test {
protected:
  // The zone comes first: the manual clock's start is a local time.
  TTimeZoneScope FZone{CCentralEurope};
  TManualClockScope FClock{EncodeDateTime(2030, 6, 1, 12)};
  TSystemRunInfoPtr FRunInfo = std::make_shared<TSystemRunInfo>();
  TStartConditionStorage FStorage;

  template <class T>
  std::shared_ptr<T> Make() {
    auto LCondition = std::make_shared<T>();
    LCondition->SetStorageName("Condition");
    LCondition->SetSystemRunInfo(FRunInfo);
    return LCondition;
  }
  std::shared_ptr<TStartConditionInterval> Every(int32_t AValue, TDelayUnit AUnit = TDelayUnit::duMinutes) {
    auto LInterval = Make<TStartConditionInterval>();
    LInterval->SetIntervalValue(AValue);
    LInterval->SetIntervalUnit(AUnit);
    return LInterval;
  }
  std::shared_ptr<TStartConditionDaily> Daily(int AHour, int AMinute, uint8_t AWeekDays = CEveryDay) {
    auto LDaily = Make<TStartConditionDaily>();
    LDaily->SetTimeOfDay(AHour, AMinute);
    LDaily->SetWeekDays(AWeekDays);
    return LDaily;
  }
  // The pass after an agent start, and the ones that follow it.
  void StartupPass(bool AIsStartup = true) { FRunInfo->SetIsStartupPass(AIsStartup); }
  void NormalPass() { StartupPass(false); }
  // Steps the manual clock's wall time to a UTC moment.
  void ClockAtUtc(TDateTime AUtc) { Clock().StepWallClock(SecondsBetween(Clock().UtcNow(), AUtc)); }

  // One instant of a walk: the answer expected there, then optionally a run recorded there.
  struct TStep {
    TDateTime Now;
    TDateTime Expected;
    bool RunHere = false;
  };
  template <class T>
  void Walk(T& ACondition, const std::vector<TStep>& ASteps) {
    for (const TStep& LStep : ASteps) {
      EXPECT_AT(ACondition.CalcNextExecution(LStep.Now, FStorage), LStep.Expected)
          << "at " << DateTimeToDisplay(LStep.Now);
      if (LStep.RunHere) ACondition.SetAlreadyRunFlag(true, LStep.Now, FStorage);
    }
  }
};

}  // namespace Orvane::Testing
