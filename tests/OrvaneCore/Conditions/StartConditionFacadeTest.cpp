#include "OrvaneCore/Conditions/StartConditionFacade.h"

#include <gtest/gtest.h>

#include "Support/TestConditions.h"

namespace Orvane {
namespace {

const TDateTime CNow = EncodeDateTime(2026, 5, 4, 12, 0, 0);
const TDateTime CHourAgo = IncSeconds(CNow, -3600);
const TDateTime CMinuteAgo = IncSeconds(CNow, -60);

// Due when any enabled condition is, since the earliest; enabled when any condition is; asking for
// a re-check before the run when an enabled condition asks (here only the first asks).
TEST(StartConditionFacadeTest, EnabledConditionsDecideDueTimeEnabledAndReCheck) {
  struct TCase {
    std::vector<TDateTime> DueSince;
    std::vector<bool> Enabled;
    TDateTime Expected;
  };
  const TCase LCases[] = {
      {{}, {}, CNoDateTime},                                               // no conditions: never due
      {{CNoDateTime, IncSeconds(CNow, 3600)}, {true, true}, CNoDateTime},  // none due yet
      {{CMinuteAgo, CNoDateTime}, {true, true}, CMinuteAgo},               // one due
      {{CMinuteAgo, CHourAgo}, {true, true}, CHourAgo},                    // the earliest wins
      {{CHourAgo, CMinuteAgo}, {false, true}, CMinuteAgo},                 // disabled ones do not count
      {{CHourAgo}, {false}, CNoDateTime},
  };
  for (const TCase& LCase : LCases) {
    SCOPED_TRACE(&LCase - LCases);
    TStartConditionFacade LFacade;
    for (std::size_t J = 0; J < LCase.DueSince.size(); ++J) {
      auto LCondition = Testing::FixedCondition(LCase.DueSince[J]);
      LCondition->Enabled = LCase.Enabled[J];
      LCondition->ReEvaluate = J == 0;
      LFacade.AddCondition(LCondition);
    }
    const bool LAnyEnabled = std::count(LCase.Enabled.begin(), LCase.Enabled.end(), true) > 0;
    EXPECT_EQ(LFacade.CalcNextExecution(CNow), LCase.Expected);
    EXPECT_EQ(LFacade.GetEnabled(), LAnyEnabled);
    EXPECT_EQ(LFacade.GetReEvaluateBeforeRun(), !LCase.Enabled.empty() && LCase.Enabled[0]);
  }
}

}  // namespace
}  // namespace Orvane
