#include <gtest/gtest.h>

#include <set>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Conditions/StartConditionOnAgentStart.h"
#include "OrvaneCore/Conditions/StartConditionOnce.h"
#include "OrvaneCore/Conditions/StartConditionTimed.h"
#include "OrvaneCore/Data/DataNode.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using namespace Testing;

using TStartConditionTimedTest = TConditionTest;

TEST_F(TStartConditionTimedTest, SplayIsDrawnOncePerJobWithinItsBound) {
  auto LDaily = Make<TStartConditionDaily>();
  LDaily->SetTimeOfDay(10, 0);
  LDaily->SetMaxSplaySeconds(1800);
  const TDateTime LBefore = Local(2026, 1, 5, 9, 0);
  EXPECT_AT(LDaily->CalcNextExecution(LBefore, FStorage), CNoDateTime);
  const int32_t LSplay = FStorage.GetSplaySeconds();
  ASSERT_TRUE(LSplay >= 0 && LSplay <= 1800) << LSplay;
  const TDateTime LDue = IncSeconds(Local(2026, 1, 5, 10, 0), LSplay);
  EXPECT_AT(LDaily->CalcNextExecution(IncSeconds(LDue, -1), FStorage), CNoDateTime);
  EXPECT_AT(LDaily->CalcNextExecution(LDue, FStorage), LDue);
  EXPECT_EQ(FStorage.GetSplaySeconds(), LSplay);

  std::set<int32_t> LDraws;  // of different jobs
  for (int I = 0; I < 20; ++I) {
    TStartConditionStorage LStorage;
    LDaily->CalcNextExecution(LBefore, LStorage);
    LDraws.insert(LStorage.GetSplaySeconds());
  }
  EXPECT_GT(LDraws.size(), 10u);

  // A bound lowered below the kept draw draws again within it.
  FStorage.SetSplaySeconds(1700);
  LDaily->SetMaxSplaySeconds(60);
  LDaily->CalcNextExecution(LBefore, FStorage);
  EXPECT_LE(FStorage.GetSplaySeconds(), 60);
}

// Once, daily, interval, agent start and delay, each in a state in which it is due, in a facade.
TEST_F(TStartConditionTimedTest, NoNewRunStartsWhileTheServiceStopsAndTheDropIsNotARun) {
  const TDateTime LNow = Local(2026, 1, 5, 12, 0);
  auto LOnce = std::make_shared<TStartConditionOnce>();
  LOnce->SetStartTime(Local(2026, 1, 5, 11, 0));
  auto LDaily = std::make_shared<TStartConditionDaily>();
  LDaily->SetTimeOfDay(11, 30);
  auto LInterval = std::make_shared<TStartConditionInterval>();
  LInterval->SetIntervalValue(15);
  auto LDelay = std::make_shared<TStartConditionOnDelay>();
  LDelay->SetCreated(Local(2026, 1, 5, 11, 0));
  LDelay->SetDelayValue(5);
  std::vector<std::unique_ptr<TStartConditionFacade>> LFacades;
  for (const TStartConditionPtr& LCondition : std::vector<TStartConditionPtr>{
           LOnce, LDaily, LInterval, std::make_shared<TStartConditionOnAgentStart>(), LDelay}) {
    LFacades.push_back(std::make_unique<TStartConditionFacade>());
    LFacades.back()->AddCondition(LCondition);
    LFacades.back()->SetSystemRunInfo(FRunInfo);
  }
  (*LFacades[1]->GetStorages())[0]->SetAnchor(LocalToUtc(Local(2026, 1, 4, 12, 0)));  // seen yesterday
  (*LFacades[2]->GetStorages())[0]->SetLastRun(LocalToUtc(Local(2026, 1, 5, 11, 40)));
  ClockAtUtc(LocalToUtc(LNow));
  StartupPass();
  std::vector<TDateTime> LQueued;
  for (auto& LFacade : LFacades) LQueued.push_back(LFacade->CalcNextExecution(LNow));
  for (std::size_t I = 0; I < 3; ++I) EXPECT_TRUE(LFacades[I]->GetReEvaluateBeforeRun());

  // Once, daily, interval and agent start: the dispatcher's re-check while the service stops.
  NormalPass();
  FRunInfo->SetIsStopping(true);
  for (std::size_t I = 0; I < 4; ++I) {
    TStartConditionFacade& LFacade = *LFacades[I];
    const TStartConditionStoragePtr LStorage = (*LFacade.GetStorages())[0];
    const TDateTime LRunBefore = LStorage->GetLastRun();
    LFacade.SetIsReEvaluationRun(true);
    EXPECT_EQ(LFacade.CalcNextExecution(LNow), CNoDateTime) << LFacade.GetConditions()[0]->ClassName();
    LFacade.SetAlreadyRunFlag(false);
    LFacade.SetIsReEvaluationRun(false);
    EXPECT_EQ(LStorage->GetLastRun(), LRunBefore);
    EXPECT_NE(LStorage->GetLastDrop(), CNoDateTime);
  }

  // At the next start the dropped runs are still owed (catch-up is on by default), since the same
  // moments; the agent-start kind is due for the new start.
  FRunInfo->SetIsStopping(false);
  StartupPass();
  const TDateTime LLater = Local(2026, 1, 5, 12, 10);
  for (std::size_t I = 0; I < 3; ++I) EXPECT_AT(LFacades[I]->CalcNextExecution(LLater), LQueued[I]);
  EXPECT_AT(LFacades[3]->CalcNextExecution(LLater), LLater);
}

TEST_F(TStartConditionTimedTest, DefinitionThatCannotFallDueIsLoggedKeptAndNeverDue) {
  TLogCapture LLog;
  auto LInterval = Make<TStartConditionInterval>();
  LInterval->SetIntervalValue(5);
  TDataNode LNode = RecordToNode(*LInterval);
  for (TDataNode& LMember : LNode.Children)
    if (LMember.Name == "IntervalValue") LMember.Text = "0";

  TStartConditionInterval LRead;
  NodeToRecord(LNode, LRead);
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Error, "never falls due: interval 0 is not positive"));
  LRead.SetSystemRunInfo(FRunInfo);
  EXPECT_AT(LRead.CalcNextExecution(Local(2026, 1, 5, 12, 0), FStorage), CNoDateTime);
  EXPECT_AT(LRead.NextPlannedTime(Local(2026, 1, 5, 12, 0), FStorage), CNoDateTime);
  EXPECT_EQ(RecordToNode(LRead), LNode);  // nothing of it is lost

  auto LDaily = Make<TStartConditionDaily>();
  LDaily->SetTimeOfDay(86400);
  EXPECT_EQ(LDaily->InvalidReason(), "time of day 86400 is not between 0 and 86399 seconds");
  EXPECT_AT(LDaily->CalcNextExecution(Local(2026, 1, 5, 12, 0), FStorage), CNoDateTime);
}

using TStartConditionOnceTest = TConditionTest;

TEST_F(TStartConditionOnceTest, DueFromItsTimeUntilItHasRunWhateverTheClockDoes) {
  auto LOnce = Make<TStartConditionOnce>();
  const TDateTime LAt = Local(2026, 1, 31, 23, 59);
  LOnce->SetStartTime(LAt);
  NormalPass();

  EXPECT_AT(LOnce->NextPlannedTime(Local(2026, 1, 31, 12, 0), FStorage), LAt);
  // Across midnight and the month end it stays due since its time; after its run, whatever the
  // clock does (set back to before the time, and past it again), never again.
  Walk(*LOnce, {{Local(2026, 1, 31, 23, 58, 59), CNoDateTime},
                {LAt, LAt},
                {Local(2026, 2, 1, 0, 30), LAt, true},
                {Local(2026, 2, 1, 0, 32), CNoDateTime},
                {Local(2027, 1, 1, 0, 0), CNoDateTime},
                {Local(2026, 1, 31, 23, 0), CNoDateTime},
                {Local(2026, 1, 31, 23, 59), CNoDateTime}});
  EXPECT_AT(LOnce->NextPlannedTime(Local(2026, 2, 1, 0, 32), FStorage), CNoDateTime);

  // A start time moved past the last run makes it due once more.
  LOnce->SetStartTime(Local(2026, 2, 2, 8, 0));
  EXPECT_AT(LOnce->CalcNextExecution(Local(2026, 2, 2, 8, 0), FStorage), Local(2026, 2, 2, 8, 0));
}

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
