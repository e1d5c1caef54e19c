#include <gtest/gtest.h>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionOnShutdown.h"

namespace Orvane {
namespace {

using namespace Testing;

using TStartConditionOnShutdownTest = TConditionTest;

const TDateTime CNow = Local(2026, 1, 5, 18, 0);

TEST_F(TStartConditionOnShutdownTest, DueOnlyWhileTheShutdownPassRuns) {
  auto LCondition = Make<TStartConditionOnShutdown>();
  EXPECT_AT(LCondition->CalcNextExecution(CNow, FStorage), CNoDateTime);
  StartupPass();
  EXPECT_AT(LCondition->CalcNextExecution(CNow, FStorage), CNoDateTime);
  NormalPass();
  // The shutdown pass runs after the service was stopped.
  FRunInfo->SetIsStopping(true);
  FRunInfo->SetIsShutdownPass(true);
  EXPECT_AT(LCondition->CalcNextExecution(CNow, FStorage), CNow);
  LCondition->SetIsReEvaluationRun(true);
  EXPECT_AT(LCondition->CalcNextExecution(IncSeconds(CNow, 5), FStorage), IncSeconds(CNow, 5));
  LCondition->SetIsReEvaluationRun(false);
  FRunInfo->SetIsShutdownPass(false);
  EXPECT_AT(LCondition->CalcNextExecution(CNow, FStorage), CNoDateTime);
  EXPECT_AT(LCondition->NextPlannedTime(CNow, FStorage), CNoDateTime);
}

TEST_F(TStartConditionOnShutdownTest, ShutdownPassAdmitsAndRunsOnlyJobsThatHoldTheKind) {
  auto LDaily = Make<TStartConditionDaily>();
  LDaily->SetTimeOfDay(3, 0);
  TStartConditionFacade LShutdownOnly, LDailyAndShutdown, LDailyOnly, LNone;
  LShutdownOnly.AddCondition(Make<TStartConditionOnShutdown>());
  LDailyAndShutdown.AddCondition(LDaily);
  LDailyAndShutdown.AddCondition(Make<TStartConditionOnShutdown>());
  LDailyOnly.AddCondition(CloneAs<TStartCondition>(*LDaily));
  LDailyOnly.SetSystemRunInfo(FRunInfo);

  // Every job takes part in an unrestricted pass, one without conditions too.
  for (const TStartConditionFacade* LFacade : {&LShutdownOnly, &LDailyAndShutdown, &LDailyOnly, &LNone})
    EXPECT_TRUE(IsAllowedByConditions(*LFacade, CAllConditions));
  EXPECT_TRUE(IsAllowedByConditions(LShutdownOnly, CShutdownConditions));
  EXPECT_TRUE(IsAllowedByConditions(LDailyAndShutdown, CShutdownConditions));
  EXPECT_FALSE(IsAllowedByConditions(LDailyOnly, CShutdownConditions));
  EXPECT_FALSE(IsAllowedByConditions(LNone, CShutdownConditions));

  FRunInfo->SetIsStopping(true);
  FRunInfo->SetIsShutdownPass(true);
  EXPECT_AT(LShutdownOnly.CalcNextExecution(CNow), CNow);
  EXPECT_AT(LDailyAndShutdown.CalcNextExecution(CNow), CNow);  // the daily part is not due
  EXPECT_AT(LDailyOnly.CalcNextExecution(CNow), CNoDateTime);
}

}  // namespace
}  // namespace Orvane
