#include "OrvaneCore/Conditions/StartConditionFacade.h"

#include <gtest/gtest.h>

#include "Support/ClockScope.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using Testing::FixedCondition;

const TDateTime CNow = EncodeDateTime(2026, 5, 4, 12, 0, 0);
const TDateTime CHourAgo = IncSeconds(CNow, -3600);
const TDateTime CMinuteAgo = IncSeconds(CNow, -60);
const TDateTime CInAnHour = IncSeconds(CNow, 3600);

TEST(StartConditionFacadeTest, DueWhenAnyEnabledConditionIsDueSinceTheEarliest) {
  struct TCase {
    std::vector<TDateTime> DueSince;
    std::vector<bool> Enabled;
    TDateTime Expected;
  };
  const std::vector<TCase> LCases = {
      {{}, {}, CNoDateTime},                                               // no conditions: never due
      {{CNoDateTime, CInAnHour}, {true, true}, CNoDateTime},               // none due yet
      {{CMinuteAgo, CNoDateTime}, {true, true}, CMinuteAgo},               // one due
      {{CMinuteAgo, CHourAgo}, {true, true}, CHourAgo},                    // the earliest wins
      {{CHourAgo, CMinuteAgo}, {false, true}, CMinuteAgo},                 // disabled ones do not count
      {{CHourAgo}, {false}, CNoDateTime},
  };
  for (std::size_t I = 0; I < LCases.size(); ++I) {
    TStartConditionFacade LFacade;
    for (std::size_t J = 0; J < LCases[I].DueSince.size(); ++J) {
      auto LCondition = FixedCondition(LCases[I].DueSince[J]);
      LCondition->Enabled = LCases[I].Enabled[J];
      LFacade.AddCondition(LCondition);
    }
    EXPECT_EQ(LFacade.CalcNextExecution(CNow), LCases[I].Expected) << "case " << I;
    const bool LAnyEnabled = std::count(LCases[I].Enabled.begin(), LCases[I].Enabled.end(), true) > 0;
    EXPECT_EQ(LFacade.GetEnabled(), LAnyEnabled) << "case " << I;
  }
}

TEST(StartConditionFacadeTest, RunAndDropAreRecordedInEachConditionsOwnStorage) {
  Testing::TManualClockScope LClock(CNow);
  TStartConditionFacade LFacade;
  LFacade.AddCondition(FixedCondition(CHourAgo));
  LFacade.AddCondition(FixedCondition(CHourAgo));
  ASSERT_EQ(LFacade.GetStorages()->size(), 2u);
  EXPECT_NE((*LFacade.GetStorages())[0]->GetName(), (*LFacade.GetStorages())[1]->GetName());

  LFacade.SetAlreadyRunFlag(false);  // a drop changes no schedule
  for (const auto& LStorage : *LFacade.GetStorages()) {
    EXPECT_EQ(LStorage->GetLastRun(), CNoDateTime);
    EXPECT_TRUE(SameDateTime(LStorage->GetLastDrop(), LocalToUtc(CNow)));
  }
  LFacade.SetAlreadyRunFlag(true);
  for (const auto& LStorage : *LFacade.GetStorages())
    EXPECT_TRUE(SameDateTime(LStorage->GetLastRun(), LocalToUtc(CNow)));
}

TEST(StartConditionFacadeTest, ReEvaluationIsAskedWhenAnyEnabledConditionWantsIt) {
  TStartConditionFacade LFacade;
  auto LPlain = FixedCondition(CHourAgo);
  auto LRecheck = FixedCondition(CHourAgo);
  LRecheck->ReEvaluate = true;
  LFacade.AddCondition(LPlain);
  EXPECT_FALSE(LFacade.GetReEvaluateBeforeRun());
  LFacade.AddCondition(LRecheck);
  EXPECT_TRUE(LFacade.GetReEvaluateBeforeRun());
  LRecheck->Enabled = false;
  EXPECT_FALSE(LFacade.GetReEvaluateBeforeRun());
}

}  // namespace
}  // namespace Orvane
