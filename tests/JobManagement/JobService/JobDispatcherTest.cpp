#include <gmock/gmock.h>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "Support/ClockScope.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/RecordingPool.h"
#include "Support/ServiceMocks.h"
#include "Support/TestConditions.h"

namespace Orvane::Testing {
namespace {

using ::testing::_;
using ::testing::Return;
using TStrings = std::vector<std::string>;

TJobPtr MakeJob(const std::string& AId, bool AManual = false, int AOrder = 0) {
  return NewJob(AId, {.Manual = AManual, .Order = AOrder, .Due = EncodeDateTime(2026, 3, 2, 9, 0, 0)});
}

class JobDispatcherTest : public ::testing::Test {
protected:
  std::shared_ptr<TJobDispatcher> MakeDispatcher(int32_t ALimit, std::shared_ptr<IJobServant> AServant) {
    FPool = std::make_shared<TRecordingPool>(ALimit);
    auto LDispatcher = std::make_shared<TJobDispatcher>(FQueue, FPool, std::move(AServant), FProvider);
    LDispatcher->GetOnJobDropped().Add([this](const TJobPtr& AJob) { FDropped.push_back(AJob); });
    return LDispatcher;
  }
  TStrings QueuedIds() { return Identifiers(FQueue->CreateSnapshot()); }

  TManualClockScope FClock;
  TLogCapture FLog;
  std::shared_ptr<TJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  std::shared_ptr<TFakeJobListProvider> FProvider = std::make_shared<TFakeJobListProvider>();
  std::shared_ptr<::testing::NiceMock<MockJobServant>> FServant =
      std::make_shared<::testing::NiceMock<MockJobServant>>();
  std::vector<TJobPtr> FDropped;
  std::shared_ptr<TRecordingPool> FPool;
};

TEST_F(JobDispatcherTest, JobsRunUntilNoProcessorIsFreeAndTheRestStaysQueued) {
  auto LDispatcher = MakeDispatcher(2, nullptr);
  for (const char* LId : {"A", "B", "C"}) FQueue->EnqueueJob(MakeJob(LId, false, LId[0]));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 2);
  ASSERT_EQ(Identifiers(FPool->Started()), (TStrings{"A", "B"}));
  EXPECT_EQ(FPool->Started()[0]->GetNextExecution(), CNoDateTime);
  EXPECT_EQ(QueuedIds(), TStrings{"C"});
}

// Only a job that must run alone is checked again before it starts.
TEST_F(JobDispatcherTest, JobWhoseConditionNoLongerHoldsIsDroppedAndAManualOneGoesBackToTheList) {
  auto LDispatcher = MakeDispatcher(10, nullptr);
  for (const char* LId : {"scheduled", "manual", "parallel"}) {
    auto LJob = MakeJob(LId, LId[0] == 'm');
    LJob->SetCanRunParallel(LId[0] == 'p');
    auto LCondition = FixedCondition(CNoDateTime);
    LCondition->ReEvaluate = true;
    LJob->GetStartCondition()->AddCondition(LCondition);
    FQueue->EnqueueJob(LJob);
  }
  EXPECT_EQ(LDispatcher->ProcessQueue(), 1);
  EXPECT_EQ(Identifiers(FPool->Started()), TStrings{"parallel"});
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning,
                        "Job is dropped, because it's start condition is not fulfilled anymore"),
            2);
  ASSERT_EQ(FDropped.size(), 2u);
  EXPECT_EQ(FDropped[0]->GetNextExecution(), CNoDateTime);
  // A drop records a drop, not a run.
  EXPECT_EQ(FDropped[0]->GetStartCondition()->GetStorages()->front()->GetLastRun(), CNoDateTime);
  EXPECT_TRUE(QueuedIds().empty());
  EXPECT_EQ(Identifiers(FProvider->FetchJobList()), TStrings{"manual"});
}

TEST_F(JobDispatcherTest, SystemShutdownEndsTheCallAtTheFirstJobAndPutsOnlyAManualOneBack) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  EXPECT_CALL(*FServant, GetIsSystemShutdownInProgress()).WillRepeatedly(Return(true));
  FQueue->EnqueueJob(MakeJob("manual", true));
  FQueue->EnqueueJob(MakeJob("scheduled", false));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 0);
  EXPECT_EQ(QueuedIds(), (TStrings{"scheduled", "manual"}));
  FQueue->RemoveJob(FQueue->PeekNextJob());
  EXPECT_EQ(LDispatcher->ProcessQueue(), 0);
  EXPECT_TRUE(QueuedIds().empty());
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning,
                             "System shutdown is in progress. Enqueue the job again and do not run it now"));
}

TEST_F(JobDispatcherTest, PendingRebootSkipsRefusedJobsAndStillDispatchesTheAllowedOnes) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  EXPECT_CALL(*FServant, IsJobStartDuringRebootAllowed(_)).WillRepeatedly([](const std::string& AContentId) {
    return AContentId == "allowed";
  });
  FQueue->EnqueueJob(MakeJob("manual-1", true));
  FQueue->EnqueueJob(MakeJob("manual-2", true));
  FQueue->EnqueueJob(MakeJob("scheduled", false, 1));
  FQueue->EnqueueJob(MakeJob("allowed", false, 2));
  // Two refused manual jobs do not keep the call going round: it ends.
  EXPECT_EQ(LDispatcher->ProcessQueue(), 1);
  EXPECT_EQ(Identifiers(FPool->Started()), TStrings{"allowed"});
  EXPECT_EQ(QueuedIds(), (TStrings{"manual-1", "manual-2"}));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning,
                        "Job is skipped, because an agent restart or a reboot is requested"),
            3);
}

TEST_F(JobDispatcherTest, JobRefusedByTheServantGoesBackAndItsProcessorIsReleasedQuietly) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  EXPECT_CALL(*FServant, IsJobStartAllowed(_)).WillOnce(Return(false));
  int LDone = 0;
  FPool->GetOnJobDone().Add([&](const TJobPtr&) { ++LDone; });
  FQueue->EnqueueJob(MakeJob("A", false, 1));
  FQueue->EnqueueJob(MakeJob("B", false, 2));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 0);
  EXPECT_EQ(QueuedIds(), (TStrings{"B", "A"}));  // B was never looked at
  EXPECT_EQ(LDone, 0);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
}

TEST_F(JobDispatcherTest, FailedHandOverIsRolledBackAndTheThirdInARowDropsTheJob) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  int LFailingStep = 0;  // 1: an after-request handler, 2: the servant, 3: the processor's start
  FPool->GetOnAfterRequestProcessor().Add([&](const TJobPtr&) {
    if (LFailingStep == 1) throw std::runtime_error("handler failed");
  });
  EXPECT_CALL(*FServant, IsJobStartAllowed(_)).WillRepeatedly([&](const TJobPtr&) {
    if (LFailingStep == 2) throw 42;
    return true;
  });
  FPool->OnProcessJob = [&](const TJobPtr& AJob) {
    if (LFailingStep == 3 && AJob->GetIdentifier() == "poison") throw std::runtime_error("no thread");
  };
  int LDone = 0;
  FPool->GetOnJobDone().Add([&](const TJobPtr&) { ++LDone; });
  const TJobPtr LPoison = MakeJob("poison", false, 1);
  const TDateTime LDue = LPoison->GetNextExecution();
  for (LFailingStep = 1; LFailingStep <= 2; ++LFailingStep) {
    FQueue->EnqueueJob(LPoison);  // as the scheduler queues it again
    EXPECT_ANY_THROW(LDispatcher->ProcessQueue());
    EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
    EXPECT_EQ(LPoison->GetExecState(), TJobExecState::Idle);
    EXPECT_EQ(LPoison->GetNextExecution(), LDue);
    EXPECT_TRUE(FDropped.empty());
  }
  // The third failure in a row drops the job, and the call goes on with the next one.
  FQueue->EnqueueJob(LPoison);
  FQueue->EnqueueJob(MakeJob("next", false, 2));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 1);
  EXPECT_EQ(FDropped, std::vector<TJobPtr>{LPoison});
  EXPECT_EQ(LPoison->GetNextExecution(), CNoDateTime);
  ASSERT_EQ(FPool->Started().size(), 1u);
  EXPECT_EQ(FPool->Started()[0]->GetIdentifier(), "next");
  EXPECT_EQ(FPool->GetRunningJobsCount(), 1);
  EXPECT_EQ(LDone, 0);
}

}  // namespace
}  // namespace Orvane::Testing
