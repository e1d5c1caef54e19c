#include <gtest/gtest.h>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionOnAgentStart.h"
#include "OrvaneCore/Conditions/StartConditionOnShutdown.h"

namespace Orvane {
namespace {

using namespace Testing;

using TStartConditionOnAgentStartTest = TConditionTest;

const TDateTime CStart = Local(2026, 1, 5, 8, 0);

TEST_F(TStartConditionOnAgentStartTest, DueInThePassAfterEachStartAndOnItsReCheckUntilItRan) {
  auto LCondition = Make<TStartConditionOnAgentStart>();
  NormalPass();
  EXPECT_AT(LCondition->CalcNextExecution(CStart, FStorage), CNoDateTime);
  StartupPass();
  FRunInfo->SetIsStopping(true);
  EXPECT_AT(LCondition->CalcNextExecution(CStart, FStorage), CNoDateTime);
  FRunInfo->SetIsStopping(false);
  EXPECT_AT(LCondition->CalcNextExecution(CStart, FStorage), CStart);
  EXPECT_AT(LCondition->NextPlannedTime(CStart, FStorage), CNoDateTime);
  // Without run information neither the start nor a shutdown is known.
  EXPECT_AT(TStartConditionOnAgentStart().CalcNextExecution(CStart, FStorage), CNoDateTime);
  EXPECT_AT(TStartConditionOnShutdown().CalcNextExecution(CStart, FStorage), CNoDateTime);

  NormalPass();  // the job waited in the queue past the startup pass
  EXPECT_AT(LCondition->CalcNextExecution(IncSeconds(CStart, 600), FStorage), CNoDateTime);
  LCondition->SetIsReEvaluationRun(true);
  EXPECT_AT(LCondition->CalcNextExecution(IncSeconds(CStart, 600), FStorage), CStart);
  LCondition->SetIsReEvaluationRun(false);
  LCondition->SetAlreadyRunFlag(true, IncSeconds(CStart, 700), FStorage);
  LCondition->SetIsReEvaluationRun(true);
  EXPECT_AT(LCondition->CalcNextExecution(IncSeconds(CStart, 800), FStorage), CNoDateTime);
  LCondition->SetIsReEvaluationRun(false);

  const TDateTime LNextStart = Local(2026, 1, 6, 8, 0);
  StartupPass();
  EXPECT_AT(LCondition->CalcNextExecution(LNextStart, FStorage), LNextStart);
}

}  // namespace
}  // namespace Orvane
