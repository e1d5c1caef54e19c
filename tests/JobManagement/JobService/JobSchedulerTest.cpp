#include <gmock/gmock.h>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/ServiceMocks.h"
#include "Support/TestConditions.h"

namespace Orvane::Testing {
namespace {

using ::testing::NiceMock;
using ::testing::Return;
using TStrings = std::vector<std::string>;

constexpr double CMinute = 1.0 / 24 / 60;

class TFailingCondition : public TFixedCondition {
public:
  std::string ClassName() const override { return "TFailingCondition"; }
  TDateTime CalcNextExecution(TDateTime, TStartConditionStorage&) override {
    throw EInvalidOperation("The condition cannot be evaluated");
  }
};
const TClassRegistration<TFailingCondition> GFailingConditionRegistration("TFailingCondition",
                                                                          "TFixedCondition");

// A job of the agent task "{<id>}" unless ATaskId names another, with at most one condition.
TJobPtr MakeJob(const std::string& AId, std::shared_ptr<TStartCondition> ACondition,
                TDateTime ADue = CNoDateTime, const std::string& ATaskId = "") {
  return NewJob(AId,
                {.Task = ATaskId.empty() ? "{" + AId + "}" : ATaskId, .Due = ADue, .Condition = ACondition});
}

class JobSchedulerTest : public ::testing::Test {
protected:
  // The provider's own objects for the automatic jobs of ASource.
  TJobList LoadAutoJobs(TJobList ASource) {
    FProvider->Source = std::move(ASource);
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TDateTime MinutesFromNow(double AMinutes) { return Now() + AMinutes * CMinute; }
  int32_t Pass(TConditions AConditions = CAllConditions) { return FScheduler->UpdateQueue(AConditions); }
  TStrings Queued() { return Identifiers(FQueue->CreateSnapshot()); }
  TStrings Listed() { return Identifiers(FProvider->FetchJobList()); }

  TManualClockScope FClock;
  TLogCapture FLog;
  std::shared_ptr<TJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  std::shared_ptr<TScriptedJobListProvider> FProvider =
      std::make_shared<TScriptedJobListProvider>(nullptr, nullptr, nullptr, nullptr, "JobSchedulerTest");
  std::shared_ptr<NiceMock<MockJobServant>> FServant = std::make_shared<NiceMock<MockJobServant>>();
  std::shared_ptr<TJobScheduler> FScheduler = std::make_shared<TJobScheduler>(FProvider, FQueue, FServant);
};

TEST_F(JobSchedulerTest, PassQueuesWhatIsDueAtItsMomentAndLeavesTheRestForALaterPass) {
  const TDateTime LDueSince = MinutesFromNow(-1), LInOneHour = MinutesFromNow(60);
  const TJobList LAuto =
      LoadAutoJobs({MakeJob("due", FixedCondition(LDueSince)), MakeJob("running", FixedCondition(LDueSince)),
                    MakeJob("later", FixedCondition(LInOneHour))});
  ASSERT_EQ(Identifiers(LAuto), (TStrings{"due", "running", "later"}));
  LAuto[1]->SetExecState(TJobExecState::Running);
  // A due time in the future is kept, and the job's condition is not asked.
  FProvider->AddManualJob(MakeJob("in-an-hour", std::make_shared<TFailingCondition>(), LInOneHour));
  // Of two due manual jobs of one task the queue takes the first; the other stays in the list.
  FProvider->AddManualJob(MakeJob("first", nullptr, Now(), "{TASK}"));
  FProvider->AddManualJob(MakeJob("second", nullptr, Now(), "{TASK}"));
  const TJobPtr LNoAction = MakeJob("no-action", nullptr, Now()),
                LNoTask = MakeJob("no-task", nullptr, Now());
  LNoAction->SetJobAction(nullptr);
  std::static_pointer_cast<TScannerJobAction>(LNoTask->GetJobAction())->AgentTaskId.clear();
  FProvider->AddManualJob(LNoAction);
  FProvider->AddManualJob(LNoTask);

  EXPECT_EQ(Pass(), 2);
  EXPECT_EQ(Queued(), (TStrings{"first", "due"}));
  EXPECT_EQ(Listed(), (TStrings{"in-an-hour", "second", "no-action", "no-task", "due", "running", "later"}));
  EXPECT_EQ(FProvider->FetchJobList().front()->GetNextExecution(), LInOneHour);
  EXPECT_EQ(LAuto[0]->GetNextExecution(), LDueSince);
  EXPECT_EQ(LAuto[1]->GetNextExecution(), CNoDateTime);
  Clock().AdvanceSeconds(3600);
  EXPECT_EQ(Pass(), 2);
  EXPECT_EQ(Queued(), (TStrings{"first", "due", "in-an-hour", "later"}));
}

TEST_F(JobSchedulerTest, JobRefusedDuringARebootIsSkippedAndKeepsItsDueTime) {
  const TDateTime LDueSince = MinutesFromNow(-1);
  const TJobPtr LJob = LoadAutoJobs({MakeJob("a", FixedCondition(LDueSince))}).front();
  EXPECT_CALL(*FServant, IsJobStartDuringRebootAllowed("{a}")).WillOnce(Return(false));
  EXPECT_EQ(Pass(), 0);
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(LJob->GetNextExecution(), LDueSince);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning,
                             "Job is skipped, because a reboot or agent restart is requested"));
}

TEST_F(JobSchedulerTest, FailingStartConditionEndsThePassWithTheJobsQueuedSoFar) {
  FProvider->AddManualJob(MakeJob("first", FixedCondition(MinutesFromNow(-1))));
  FProvider->AddManualJob(MakeJob("faulty", std::make_shared<TFailingCondition>()));
  FProvider->AddManualJob(MakeJob("third", FixedCondition(MinutesFromNow(-1))));
  EXPECT_EQ(Pass(), 1);
  const int LFailure = FLog->IndexOf(TLogEntryKind::Exception, "The condition cannot be evaluated");
  ASSERT_GE(LFailure, 0);
  EXPECT_EQ(FLog->Entries()[LFailure].Value, "TJobScheduler.UpdateQueue");
  EXPECT_EQ(Listed(), (TStrings{"faulty", "third"}));
}

}  // namespace
}  // namespace Orvane::Testing
