#include <gtest/gtest.h>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionOnce.h"

namespace Orvane {
namespace {

using namespace Testing;

using TStartConditionOnceTest = TConditionTest;

TEST_F(TStartConditionOnceTest, DueFromItsTimeUntilItHasRunWhateverTheClockDoes) {
  auto LOnce = Make<TStartConditionOnce>();
  const TDateTime LAt = Local(2026, 1, 31, 23, 59);
  LOnce->SetStartTime(LAt);
  NormalPass();

  EXPECT_AT(LOnce->NextPlannedTime(Local(2026, 1, 31, 12, 0), FStorage), LAt);
  EXPECT_AT(LOnce->CalcNextExecution(Local(2026, 1, 31, 23, 58, 59), FStorage), CNoDateTime);
  EXPECT_AT(LOnce->CalcNextExecution(LAt, FStorage), LAt);
  // Across midnight and the month end it stays due since its time.
  EXPECT_AT(LOnce->CalcNextExecution(Local(2026, 2, 1, 0, 30), FStorage), LAt);

  LOnce->SetAlreadyRunFlag(true, Local(2026, 2, 1, 0, 31), FStorage);
  for (TDateTime LNow : {Local(2026, 2, 1, 0, 32), Local(2027, 1, 1, 0, 0),
                         // the clock set back to before the time, and past it again
                         Local(2026, 1, 31, 23, 0), Local(2026, 1, 31, 23, 59)})
    EXPECT_AT(LOnce->CalcNextExecution(LNow, FStorage), CNoDateTime) << DateTimeToDisplay(LNow);
  EXPECT_AT(LOnce->NextPlannedTime(Local(2026, 2, 1, 0, 32), FStorage), CNoDateTime);

  // A start time moved past the last run makes it due once more.
  LOnce->SetStartTime(Local(2026, 2, 2, 8, 0));
  EXPECT_AT(LOnce->CalcNextExecution(Local(2026, 2, 2, 8, 0), FStorage), Local(2026, 2, 2, 8, 0));
}

}  // namespace
}  // namespace Orvane
