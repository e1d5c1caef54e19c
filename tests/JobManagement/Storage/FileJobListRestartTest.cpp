#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FileJobListTestKit.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Time/Clock.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;
using Testing::Identifiers;
using Testing::MakeManualJob;

constexpr double COneMillisecond = 0.001 / CSecondsPerDay;

// A manual job due 30 minutes after it was made.
TJobPtr MakeDelayedJob(const std::string& AIdentifier, int32_t AOrder) {
  TJobPtr LJob = MakeManualJob(AIdentifier, AOrder);
  auto LDelay = std::make_shared<TStartConditionOnDelay>();
  LDelay->SetDelayValue(30);
  LDelay->SetValueUnit(TDelayUnit::duMinutes);
  LJob->GetStartCondition()->AddCondition(LDelay);
  return LJob;
}

class FileJobListRestartTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(FData.Path().empty()); }

  std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> NewPathProvider() {
    Testing::TEnvScope LEnv("ORVANE_COMMON_APPDATA", FData.Path().c_str());
    return std::make_shared<TJobStoragePathProvider<TScannerJobAction>>();
  }

  // The agent-task queue as the container builds it, on the data directory.
  std::shared_ptr<IJobQueue<>> NewQueue() {
    const auto LPaths = NewPathProvider();
    return std::make_shared<TJobQueue<TScannerJobAction>>(
        std::make_shared<TFileJobListSaverForQueue<TScannerJobAction>>(LPaths),
        std::make_shared<TFileJobListProviderForQueue<TScannerJobAction>>(LPaths));
  }

  std::shared_ptr<TCustomJobListProvider<TScannerJobAction>> NewJobListProvider() {
    const auto LPaths = NewPathProvider();
    return std::make_shared<TCustomJobListProvider<TScannerJobAction>>(
        nullptr, std::make_shared<Testing::TRecordingStorageManager>(),
        std::make_shared<TFileJobListSaverForJobList<TScannerJobAction>>(LPaths),
        std::make_shared<TFileJobListProviderForJobList<TScannerJobAction>>(LPaths));
  }

  static TJobList Drain(IJobQueue<>& AQueue) {
    TJobList LJobs;
    while (TJobPtr LJob = AQueue.DequeueNextJob()) LJobs.push_back(LJob);
    return LJobs;
  }

  Testing::TManualClockScope FClock;
  Testing::TTempDir FData{"orvane-restart"};
};

TEST_F(FileJobListRestartTest, QueuedManualJobsComeBackInOrderWithTheirActionsConditionsAndDueTimes) {
  const TDateTime LCreated = Clock().Now();
  {
    const auto LQueue = NewQueue();
    LQueue->LoadQueuedManualJobs();
    LQueue->EnqueueJob(MakeDelayedJob("delayed", 7));
    LQueue->EnqueueJob(MakeManualJob("file-scan", 2));
    LQueue->EnqueueJob(MakeManualJob("tie-first", 5));
    LQueue->EnqueueJob(MakeManualJob("tie-second", 5));
    auto LScheduled = MakeManualJob("scheduled", 0);
    LScheduled->SetIsManual(false);
    LQueue->EnqueueJob(LScheduled);
  }
  Clock().AdvanceSeconds(10 * 60);

  const auto LQueue = NewQueue();
  LQueue->LoadQueuedManualJobs();
  const TJobList LJobs = Drain(*LQueue);

  // Scheduled jobs belong to the job list and are not kept; the manual ones come out by priority.
  ASSERT_THAT(Identifiers(LJobs), ElementsAre("file-scan", "tie-first", "tie-second", "delayed"));

  // The delayed job still counts its 30 minutes from before the restart.
  const TStartConditionFacadePtr LConditions = LJobs[3]->GetStartCondition();
  ASSERT_EQ(LConditions->GetConditions().size(), 1u);
  EXPECT_EQ(LConditions->GetConditions()[0]->ClassName(), "TStartConditionOnDelay");
  EXPECT_EQ(LConditions->CalcNextExecution(Clock().Now()), CNoDateTime);
  Clock().AdvanceSeconds(20 * 60);
  EXPECT_NEAR(LConditions->CalcNextExecution(Clock().Now()), IncSeconds(LCreated, 30 * 60), COneMillisecond);

  // Every job dequeued: the file is empty now, and a third start finds nothing.
  const auto LThirdQueue = NewQueue();
  LThirdQueue->LoadQueuedManualJobs();
  EXPECT_EQ(LThirdQueue->PeekNextJob(), nullptr);
}

TEST_F(FileJobListRestartTest, BuiltQueueKeepsItsManualJobsInTheFileItWasGiven) {
  const std::string LFile = FData.Path() + "/Orvane/Tessra/AgentTasks/ManualJobsInJobQueue.xml";
  {
    const auto LQueue = BuildJobQueue(LFile, &NewFileJobListSaver<TFileJobListSaverNoPermissions>);
    LQueue->EnqueueJob(MakeManualJob("b", 2));
    LQueue->EnqueueJob(MakeManualJob("a", 1));
  }
  EXPECT_EQ(Testing::ModeOf(LFile), 0600u);

  const auto LQueue = BuildJobQueue(LFile, &NewFileJobListSaver<TFileJobListSaverNoPermissions>);
  LQueue->LoadQueuedManualJobs();
  EXPECT_THAT(Identifiers(Drain(*LQueue)), ElementsAre("a", "b"));
}

TEST_F(FileJobListRestartTest, ManualJobsOfTheJobListProviderComeBackSortedByOrder) {
  {
    const auto LProvider = NewJobListProvider();
    LProvider->LoadQueuedManualJobs();
    LProvider->AddManualJob(MakeManualJob("second", 2));
    LProvider->AddManualJob(MakeManualJob("first", 1));
  }

  const auto LProvider = NewJobListProvider();
  LProvider->LoadQueuedManualJobs();
  const TJobList LManualJobs = LProvider->CreateSnapshot().ManualJobs;

  EXPECT_THAT(Identifiers(LManualJobs), ElementsAre("first", "second"));
}

}  // namespace
}  // namespace Orvane
