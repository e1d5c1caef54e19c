#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobService/JobQueue.h"
#include "Support/LogCapture.h"
#include "Support/JobIdentifiers.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Time/Clock.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/ServiceMocks.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::NiceMock;
using ::testing::Return;
using TStrings = std::vector<std::string>;

constexpr double CMinute = 1.0 / 24 / 60;

// A condition whose evaluation fails.
class TFailingCondition : public Testing::TFixedCondition {
public:
  std::string ClassName() const override { return "TFailingCondition"; }
  TDateTime CalcNextExecution(TDateTime, TStartConditionStorage&) override {
    throw EInvalidOperation("The condition cannot be evaluated");
  }
};
const TClassRegistration<TFailingCondition> GFailingConditionRegistration("TFailingCondition",
                                                                          "TFixedCondition");

struct TJobOptions {
  std::string Identifier;
  bool IsManual = false;
  TDateTime NextExecution = CNoDateTime;
  std::shared_ptr<TStartCondition> Condition = nullptr;  // none: a job without conditions
  std::string AgentTaskId = "";                          // "" gives "{<identifier>}"
  bool HasAction = true;
};

TJobPtr MakeJob(const TJobOptions& AOptions) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AOptions.Identifier);
  LJob->SetDisplayText("Job " + AOptions.Identifier);
  LJob->SetIsManual(AOptions.IsManual);
  LJob->SetNextExecution(AOptions.NextExecution);
  if (AOptions.Condition) LJob->GetStartCondition()->AddCondition(AOptions.Condition);
  if (AOptions.HasAction) {
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId =
        AOptions.AgentTaskId.empty() ? "{" + AOptions.Identifier + "}" : AOptions.AgentTaskId;
    LJob->SetJobAction(LAction);
  }
  return LJob;
}

using Testing::Identifiers;

class JobSchedulerTest : public ::testing::Test {
protected:
  JobSchedulerTest() {
    // The queue is the real one; the mock lets a test see what the scheduler hands it.
    ON_CALL(*FQueue, EnqueueJob(_)).WillByDefault([this](const TJobPtr& AJob) {
      return FRealQueue->EnqueueJob(AJob);
    });
    ON_CALL(*FQueue, SyncQueue(_)).WillByDefault([this](const IEnumerable<TJobPtr>& AJobs) {
      FSynced.push_back(Identifiers(AJobs.ToVector()));
      FRealQueue->SyncQueue(AJobs);
    });
  }
  // The provider's own objects for the automatic jobs of ASource.
  TJobList LoadAutoJobs(TJobList ASource) {
    FProvider->Source = std::move(ASource);
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TDateTime MinutesFromNow(double AMinutes) { return Now() + AMinutes * CMinute; }
  const TLogEntry& Entry(int AIndex) {
    FEntries = FLog->Entries();
    return FEntries.at(static_cast<size_t>(AIndex));
  }
  std::string EnqueuedCount() {
    const int LIndex = FLog->IndexOf(TLogEntryKind::Value, "New enqueued jobs count");
    return LIndex < 0 ? "(none)" : Entry(LIndex).Value;
  }

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::vector<TLogEntry> FEntries;
  std::shared_ptr<TJobQueue<>> FRealQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  std::shared_ptr<NiceMock<Testing::MockJobQueue>> FQueue =
      std::make_shared<NiceMock<Testing::MockJobQueue>>();
  std::vector<TStrings> FSynced;
  std::shared_ptr<Testing::TScriptedJobListProvider> FProvider =
      std::make_shared<Testing::TScriptedJobListProvider>(nullptr, nullptr, nullptr, nullptr,
                                                          "JobSchedulerTest");
  std::shared_ptr<NiceMock<Testing::MockJobServant>> FServant =
      std::make_shared<NiceMock<Testing::MockJobServant>>();
  std::shared_ptr<TJobScheduler> FScheduler = std::make_shared<TJobScheduler>(FProvider, FQueue, FServant);
};

TEST_F(JobSchedulerTest, EmptyJobListQueuesNothingAndStillSyncsTheQueue) {
  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);

  EXPECT_THAT(FSynced, ElementsAre(IsEmpty()));
  EXPECT_EQ(EnqueuedCount(), "0");
}

TEST_F(JobSchedulerTest, DueJobIsEvaluatedAtThePassMomentQueuedAndLogged) {
  const TDateTime LDueSince = MinutesFromNow(-1);
  const TJobPtr LJob =
      LoadAutoJobs({MakeJob({.Identifier = "a", .Condition = Testing::FixedCondition(LDueSince)})}).front();

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);

  EXPECT_EQ(LJob->GetNextExecution(), LDueSince);
  EXPECT_EQ(FRealQueue->PeekNextJob(), LJob);
  const int LCheck = FLog->IndexOf(TLogEntryKind::Object, "Check job start condition: \"Job a\"");
  ASSERT_GE(LCheck, 0);
  EXPECT_EQ(Entry(LCheck).ObjectKind, 0);
  EXPECT_EQ(Entry(LCheck).ObjectClass, "TJob");
  const int LQueued = FLog->IndexOf(TLogEntryKind::Object, "New job in queue: \"Job a\"", LCheck);
  ASSERT_GT(LQueued, LCheck);
  EXPECT_EQ(Entry(LQueued + 1).Text, "Condition");
  EXPECT_EQ(Entry(LQueued + 1).ObjectClass, "TStartConditionFacade");
  EXPECT_EQ(EnqueuedCount(), "1");
}

TEST_F(JobSchedulerTest, JobThatIsNotDueIsEvaluatedAgainAtTheNextPass) {
  const TJobPtr LJob =
      LoadAutoJobs({MakeJob({.Identifier = "a", .Condition = Testing::FixedCondition(MinutesFromNow(60))})})
          .front();

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);
  EXPECT_EQ(LJob->GetNextExecution(), CNoDateTime);
  Clock().AdvanceSeconds(3600);
  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Check job start condition: \"Job a\""), 2);
}

TEST_F(JobSchedulerTest, JobWithADueTimeIsQueuedWithoutEvaluatingItsCondition) {
  const TJobPtr LJob =
      LoadAutoJobs({MakeJob({.Identifier = "a", .Condition = std::make_shared<TFailingCondition>()})})
          .front();
  LJob->SetNextExecution(MinutesFromNow(-5));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Object, "Check job start condition"));
}

// A due time in the future is not due: the job keeps it and is queued by the first pass at or
// after it, not at once.
TEST_F(JobSchedulerTest, ManualJobDueInOneHourIsQueuedInTheFirstPassAfterTheHour) {
  const TDateTime LDue = MinutesFromNow(60);
  FProvider->AddManualJob(MakeJob({.Identifier = "settings", .NextExecution = LDue}));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);
  Clock().AdvanceSeconds(3599);
  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);
  const TJobList LWaiting = FProvider->FetchJobList();
  ASSERT_THAT(Identifiers(LWaiting), ElementsAre("settings"));
  EXPECT_EQ(LWaiting.front()->GetNextExecution(), LDue);

  Clock().AdvanceSeconds(1);
  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);
  EXPECT_THAT(FProvider->FetchJobList(), IsEmpty());
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Object, "Check job start condition"));
}

TEST_F(JobSchedulerTest, RunningJobIsSyncedButNeitherEvaluatedNorQueued) {
  const TJobPtr LJob =
      LoadAutoJobs({MakeJob({.Identifier = "a", .Condition = Testing::FixedCondition(MinutesFromNow(-1))})})
          .front();
  LJob->SetExecState(TJobExecState::Running);
  EXPECT_CALL(*FQueue, EnqueueJob(_)).Times(0);

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);

  EXPECT_THAT(FSynced, ElementsAre(ElementsAre("a")));
  EXPECT_EQ(LJob->GetNextExecution(), CNoDateTime);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Object, "Check job start condition"));
}

TEST_F(JobSchedulerTest, JobRefusedDuringARebootIsSkippedAndKeepsItsDueTime) {
  const TDateTime LDueSince = MinutesFromNow(-1);
  const TJobPtr LJob =
      LoadAutoJobs({MakeJob({.Identifier = "a", .Condition = Testing::FixedCondition(LDueSince)})}).front();
  EXPECT_CALL(*FServant, IsJobStartDuringRebootAllowed("{a}")).WillOnce(Return(false));
  EXPECT_CALL(*FQueue, EnqueueJob(_)).Times(0);

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);

  EXPECT_EQ(LJob->GetNextExecution(), LDueSince);
  const int LWarning =
      FLog->IndexOf(TLogEntryKind::Warning, "Job is skipped, because a reboot or agent restart is requested");
  ASSERT_GE(LWarning, 0);
  EXPECT_EQ(Entry(LWarning + 1).Text, "Skipped job");
  EXPECT_EQ(Entry(LWarning + 1).ObjectClass, "TJob");
}

// Two due manual jobs of one task: the queue takes the first, which leaves the job list, and
// refuses the second, which stays. The count is what the queue took.
TEST_F(JobSchedulerTest, ManualJobTheQueueTakesLeavesTheListAndOneItRefusesStays) {
  FProvider->AddManualJob(MakeJob({.Identifier = "first", .NextExecution = Now(), .AgentTaskId = "{TASK}"}));
  FProvider->AddManualJob(MakeJob({.Identifier = "second", .NextExecution = Now(), .AgentTaskId = "{TASK}"}));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);

  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("second"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "New job in queue"), 1);
  EXPECT_EQ(EnqueuedCount(), "1");
}

TEST_F(JobSchedulerTest, JobThatIsNotInitializedIsLoggedOncePerPassAndSkipped) {
  FProvider->AddManualJob(MakeJob({.Identifier = "no-action", .NextExecution = Now(), .HasAction = false}));
  const TJobPtr LNoTask = MakeJob({.Identifier = "no-task", .NextExecution = Now()});
  std::dynamic_pointer_cast<TScannerJobAction>(LNoTask->GetJobAction())->AgentTaskId.clear();
  FProvider->AddManualJob(LNoTask);
  FProvider->AddManualJob(MakeJob({.Identifier = "ready", .NextExecution = Now()}));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);
  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 0);

  int LNotInitialized = 0;
  for (const TLogEntry& LEntry : FLog->Entries()) {
    if (LEntry.Kind == TLogEntryKind::Object && LEntry.Text == "Job is not initialized." &&
        LEntry.ObjectKind == 3)
      ++LNotInitialized;
  }
  EXPECT_EQ(LNotInitialized, 4);
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("no-action", "no-task"));
}

// A pass restricted to some condition kinds takes the jobs that hold one of them; a job without
// conditions runs only in a pass that allows every kind.
TEST_F(JobSchedulerTest, RestrictedPassTakesOnlyTheJobsWithAnAllowedConditionKind) {
  LoadAutoJobs(
      {MakeJob({.Identifier = "daily", .Condition = Testing::FixedCondition(MinutesFromNow(-1), ckDaily)}),
       MakeJob({.Identifier = "shutdown",
                .Condition = Testing::FixedCondition(MinutesFromNow(-1), ckShutdown)})});
  FProvider->AddManualJob(MakeJob({.Identifier = "plain", .NextExecution = Now()}));

  EXPECT_EQ(FScheduler->UpdateQueue(CShutdownConditions), 1);
  EXPECT_THAT(FSynced.back(), ElementsAre("shutdown"));
  EXPECT_THAT(Identifiers(FRealQueue->CreateSnapshot()), ElementsAre("shutdown"));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 2);
  EXPECT_THAT(Identifiers(FRealQueue->CreateSnapshot()), ElementsAre("shutdown", "plain", "daily"));
}

TEST_F(JobSchedulerTest, FailingStartConditionEndsThePassWithTheJobsQueuedSoFar) {
  FProvider->AddManualJob(
      MakeJob({.Identifier = "first", .Condition = Testing::FixedCondition(MinutesFromNow(-1))}));
  FProvider->AddManualJob(
      MakeJob({.Identifier = "faulty", .Condition = std::make_shared<TFailingCondition>()}));
  FProvider->AddManualJob(
      MakeJob({.Identifier = "third", .Condition = Testing::FixedCondition(MinutesFromNow(-1))}));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);

  const int LFailure = FLog->IndexOf(TLogEntryKind::Exception, "The condition cannot be evaluated");
  ASSERT_GE(LFailure, 0);
  EXPECT_EQ(Entry(LFailure).Value, "TJobScheduler.UpdateQueue");
  EXPECT_EQ(EnqueuedCount(), "1");
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("faulty", "third"));
  EXPECT_EQ(FEntries.back().Kind, TLogEntryKind::TraceExit);
}

TEST_F(JobSchedulerTest, FailingJobSourceIsLoggedByTheProviderAndTheHeldJobsAreStillScheduled) {
  FProvider->Raise = true;
  FProvider->AddManualJob(MakeJob({.Identifier = "m", .NextExecution = Now()}));

  EXPECT_EQ(FScheduler->UpdateQueue(CAllConditions), 1);

  const int LFailure = FLog->IndexOf(TLogEntryKind::Exception, "The job source cannot be read");
  ASSERT_GE(LFailure, 0);
  EXPECT_EQ(Entry(LFailure).Value, "TCustomJobListProvider.FetchJobList");
  EXPECT_EQ(FLog->Count(TLogEntryKind::Exception), 1);
}

}  // namespace
}  // namespace Orvane
