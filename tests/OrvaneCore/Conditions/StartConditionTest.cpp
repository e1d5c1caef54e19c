#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <utility>
#include <vector>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionOnAgentStart.h"
#include "OrvaneCore/Conditions/StartConditionOnce.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"
#include "OrvaneCore/Data/DataNode.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using namespace Testing;

using DateTimeTest = TConditionTest;

TEST_F(DateTimeTest, LocalAndUtcFollowDaylightSavingChanges) {
  // Winter: UTC+1; summer: UTC+2; the spring change (03-29 01:00 UTC) puts one real hour between
  // 01:30 and 03:30 local.
  EXPECT_NEAR(SecondsBetween(LocalToUtc(Local(2026, 1, 15, 12)), Utc(2026, 1, 15, 11)), 0, 1e-3);
  EXPECT_NEAR(SecondsBetween(LocalToUtc(Local(2026, 7, 15, 12)), Utc(2026, 7, 15, 10)), 0, 1e-3);
  EXPECT_NEAR(SecondsBetween(LocalToUtc(Local(2026, 3, 29, 1, 30)), LocalToUtc(Local(2026, 3, 29, 3, 30))),
              3600, 1e-3);
  // UtcToLocal inverts LocalToUtc away from the skipped hour, also beside the repeated autumn hour.
  for (TDateTime LLocal :
       {Local(2026, 3, 29, 1, 59), Local(2026, 3, 29, 3), Local(2026, 10, 25, 1), Local(2026, 10, 25, 3, 30)})
    EXPECT_NEAR(SecondsBetween(UtcToLocal(LocalToUtc(LLocal)), LLocal), 0, 1e-3) << DateTimeToDisplay(LLocal);
}

using TStartConditionTimeTest = TConditionTest;

TEST_F(TStartConditionTimeTest, FirstUtcAtOrAfterLocalSettlesSkippedAndRepeatedTimes) {
  struct TCase {
    TDateTime LocalTime;
    TDateTime Expected;
  };
  const TCase LCases[] = {
      {Local(2026, 1, 31, 23, 30), Utc(2026, 1, 31, 22, 30)},  // winter
      {Local(2026, 7, 1, 0, 0), Utc(2026, 6, 30, 22, 0)},      // summer, across a month end
      {Local(2026, 3, 29, 1, 59), Utc(2026, 3, 29, 0, 59)},    // just before the jump
      {Local(2026, 3, 29, 2, 30), Utc(2026, 3, 29, 1, 0)},     // skipped: the moment of the jump
      {Local(2026, 3, 29, 3, 0), Utc(2026, 3, 29, 1, 0)},
      {Local(2026, 10, 25, 1, 59), Utc(2026, 10, 24, 23, 59)},
      {Local(2026, 10, 25, 2, 30), Utc(2026, 10, 25, 0, 30)},  // repeated: the first of the two
      {Local(2026, 10, 25, 3, 0), Utc(2026, 10, 25, 2, 0)},
  };
  for (const TCase& LCase : LCases)
    EXPECT_AT(FirstUtcAtOrAfterLocal(LCase.LocalTime), LCase.Expected) << DateTimeToDisplay(LCase.LocalTime);
}

TEST_F(TStartConditionTimeTest, LocalNowTakesTheRepeatedHourWhereTheClockIs) {
  // The clock elsewhere: the first occurrence, every time.
  EXPECT_EQ(LocalNowToUtc(Local(2026, 10, 25, 2, 30)), FirstUtcAtOrAfterLocal(Local(2026, 10, 25, 2, 30)));

  ClockAtUtc(Utc(2026, 10, 25, 1, 40));  // 02:40 winter time, the second time round
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 2, 40)), Utc(2026, 10, 25, 1, 40)));
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 2, 30)), Utc(2026, 10, 25, 1, 30)));
  // A time the clock has not reached the second time round is still the first one.
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 2, 50)), Utc(2026, 10, 25, 0, 50)));
  // Times outside the repeated hour have one moment whatever the clock says.
  EXPECT_TRUE(SameDateTime(LocalNowToUtc(Local(2026, 10, 25, 3, 10)), Utc(2026, 10, 25, 2, 10)));
}

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
  const auto Answers = [](TDateTime A) {
    return DateTimeToDisplay(FirstUtcAtOrAfterLocal(A)) + " " + DateTimeToDisplay(LocalNowToUtc(A)) + " " +
           DateTimeToDisplay(LocalOfUtc(A));
  };
  std::vector<std::string> LLibrary;
  for (TDateTime LMoment : LMoments) LLibrary.push_back(Answers(LMoment));
  const TZoneOffsetScope LScope;
  // 389 is prime and no multiple of the count: every moment is visited once.
  for (std::size_t LVisited = 0, I = 0; LVisited < LCount; ++LVisited, I = (I + 389) % LCount)
    EXPECT_EQ(Answers(LMoments[I]), LLibrary[I]);
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

using TStartConditionIntervalTest = TConditionTest;

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

using TStartConditionDailyTest = TConditionTest;

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

using TStartConditionTimedTest = TConditionTest;

TEST_F(TStartConditionTimedTest, SplayIsDrawnOncePerJobWithinItsBound) {
  auto LDaily = Daily(10, 0);
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
  auto LInterval = Every(5);
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
      auto LCondition = FixedCondition(LCase.DueSince[J]);
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
