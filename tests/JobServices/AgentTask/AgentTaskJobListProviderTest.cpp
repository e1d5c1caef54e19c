#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobServices/AgentTask/JobListProvider.Client.h"
#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/HostMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Return;
using TStrings = std::vector<std::string>;

class MockRequestSender : public IServerRequestSender {
public:
  MOCK_METHOD(int32_t, SendRequest, (TRequest&, TResponse&), (override));
};

// An automatic agent-task job of the server, due whenever it is asked.
TJobPtr MakeServerJob(const std::string& AContentId, std::shared_ptr<TScannerJobAction> AAction = nullptr) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("job-" + AContentId);
  LJob->SetDisplayText("Server job " + AContentId);
  if (!AAction) AAction = std::make_shared<TScannerJobAction>();
  AAction->AgentTaskId = AContentId;
  LJob->SetJobAction(AAction);
  LJob->GetStartCondition()->AddCondition(Testing::FixedCondition(0.0));
  return LJob;
}

using Testing::Identifiers;

class AgentTaskJobListProviderTest : public ::testing::Test {
protected:

  // Every request is answered with AJobs (and the manual job ids of the request as still known).
  void AnswerAlways(TJobList AJobs) {
    ON_CALL(*FSender, SendRequest(_, _)).WillByDefault([AJobs](TRequest& ARequest, TResponse& AResponse) {
      auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
      for (const TJobPtr& LJob : AJobs) LResponse.GetJobList().push_back(CloneAs(*LJob));
      LResponse.GetExistingManualJobIds() =
          dynamic_cast<TCalcJobsForClientRequest&>(ARequest).GetManualJobIds();
      return 0;
    });
  }
  TJobList Reload() {
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TJobList ManualJobs() { return FProvider->CreateSnapshot().ManualJobs; }
  TJobList AutoJobs() { return FProvider->CreateSnapshot().AutoJobs; }

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::shared_ptr<MockRequestSender> FSender = std::make_shared<::testing::NiceMock<MockRequestSender>>();
  std::shared_ptr<Testing::MockAgentTaskDispatcher> FDispatcher =
      std::make_shared<::testing::StrictMock<Testing::MockAgentTaskDispatcher>>();
  std::shared_ptr<Testing::TRecordingJobListSaver> FSaver =
      std::make_shared<Testing::TRecordingJobListSaver>();
  std::shared_ptr<TAgentTaskJobListProvider> FProvider = std::make_shared<TAgentTaskJobListProvider>(
      FSender, std::make_shared<Testing::TRecordingStorageManager>(), FSaver,
      std::make_shared<Testing::TRecordingJobListLoader>(), TClientId{"client-7"},
      Lazy<IAgentTaskDispatcher>(
          [this] { return std::static_pointer_cast<IAgentTaskDispatcher>(FDispatcher); },
          [] { return std::string("dispatcher"); }));
};

TEST_F(AgentTaskJobListProviderTest, EmptyAnswerEnqueuesSettingsWatchThatRunsNoEarlierThanOneHourLater) {
  AnswerAlways({});
  const TDateTime LLoadTime = Now();
  Reload();
  const TJobList LManual = ManualJobs();
  ASSERT_EQ(LManual.size(), 1u);
  EXPECT_EQ(LManual[0]->GetIdentifier(), CSettingsWatchId);
  EXPECT_EQ(LManual[0]->GetDisplayText(), "Settings watch");
  EXPECT_TRUE(SameDateTime(LManual[0]->GetNextExecution(), IncSeconds(LLoadTime, 3600)));
  EXPECT_FALSE(LManual[0]->GetIsRegularJob());
  // Further empty answers while it waits add no second one.
  Reload();
  Reload();
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre(std::string(CSettingsWatchId)));

  // The scheduler takes it off the list when its hour has come (the scheduler's tests show when).
  FProvider->RemoveManualJob(LManual[0]);
  // Once it left the list, the next empty answer plans the next one.
  Reload();
  EXPECT_EQ(ManualJobs().size(), 1u);
}

TEST_F(AgentTaskJobListProviderTest, FailedRequestCountsAsEmptyAnswer) {
  AnswerAlways({MakeServerJob(std::string(CComputerScannerId))});
  Reload();
  ASSERT_EQ(AutoJobs().size(), 1u);

  ON_CALL(*FSender, SendRequest(_, _)).WillByDefault(Return(1));
  const TJobList LFetched = Reload();
  EXPECT_TRUE(AutoJobs().empty());
  EXPECT_THAT(Identifiers(LFetched), ElementsAre(std::string(CSettingsWatchId)));
  EXPECT_FALSE(FProvider->GetLoadListFromServerOnNextFetch());
}

TEST_F(AgentTaskJobListProviderTest, ExcludedContentIdInAnyCaseNeverBecomesAutomaticJob) {
  AnswerAlways({MakeServerJob("{50016f8b-504d-4d1d-ace0-a94f6eac704f}"),
                MakeServerJob(std::string(CExcludedAgentTaskContentId)),
                MakeServerJob(std::string(CRulesId))});
  Reload();
  EXPECT_THAT(Identifiers(AutoJobs()), ElementsAre("job-" + std::string(CRulesId)));
}

TEST_F(AgentTaskJobListProviderTest, DuplicateServerIdentifiersKeepTheFirstJobAndLoadTheRest) {
  TJobPtr LFirst = MakeServerJob(std::string(CRulesId));
  TJobPtr LSecond = MakeServerJob(std::string(CRulesId));
  LSecond->SetIdentifier(UpperCase(LFirst->GetIdentifier()));
  AnswerAlways({LFirst, LSecond, MakeServerJob(std::string(CFileScannerId))});
  Reload();
  EXPECT_THAT(Identifiers(AutoJobs()),
              ElementsAre(LFirst->GetIdentifier(), "job-" + std::string(CFileScannerId)));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning), 1);
}

TEST_F(AgentTaskJobListProviderTest, OnlyRestartAndSettingsWatchAreNotRegularJobs) {
  FProvider->EnqueueAgentTask("{d1831d0f-0620-4a5c-a0be-0ebe5f41d040}", Now());
  FProvider->EnqueueAgentTask(std::string(CSettingsWatchId), Now());
  FProvider->EnqueueAgentTask(std::string(CComputerScannerId), Now());
  FProvider->EnqueueAgentTask("{00000000-0000-0000-0000-000000000000}", Now());
  const TJobList LManual = ManualJobs();
  ASSERT_EQ(LManual.size(), 4u);
  EXPECT_FALSE(LManual[0]->GetIsRegularJob());
  EXPECT_FALSE(LManual[1]->GetIsRegularJob());
  EXPECT_TRUE(LManual[2]->GetIsRegularJob());
  EXPECT_TRUE(LManual[3]->GetIsRegularJob());
  EXPECT_EQ(LManual[3]->GetDisplayText(), "");
}

TEST_F(AgentTaskJobListProviderTest, DelayedEnqueueHasNoDueTimeAndEndsWithFiveMinuteDelay) {
  AnswerAlways({MakeServerJob(std::string(CSecurityScannerId))});
  Reload();
  FProvider->EnqueueAgentTask(std::string(CSecurityScannerId), Now(), 5);
  const TJobList LManual = ManualJobs();
  ASSERT_EQ(LManual.size(), 1u);
  EXPECT_EQ(LManual[0]->GetNextExecution(), CNoDateTime);
  const std::vector<TStartConditionPtr>& LConditions = LManual[0]->GetStartCondition()->GetConditions();
  ASSERT_FALSE(LConditions.empty());
  const auto LDelay = std::dynamic_pointer_cast<TStartConditionOnDelay>(LConditions.back());
  ASSERT_TRUE(LDelay);
  EXPECT_EQ(LDelay->GetDelayValue(), 5);
  EXPECT_EQ(LDelay->GetValueUnit(), TDelayUnit::duMinutes);
}

TEST_F(AgentTaskJobListProviderTest, EnqueueAllAddsTheEightScannersInOrderDueAtNow) {
  int LChanges = 0;
  const auto LToken = FProvider->GetOnManualJobsChanged().Add([&](const TJobPtr&) { ++LChanges; });
  const TDateTime LNow = IncSeconds(Now(), 42);
  FProvider->EnqueueAllAgentTasks(LNow);

  const TJobList LManual = ManualJobs();
  TStrings LExpected(CEnqueueAllAgentTaskIds.begin(), CEnqueueAllAgentTaskIds.end());
  EXPECT_THAT(Identifiers(LManual), ElementsAreArray(LExpected));
  EXPECT_EQ(LChanges, 8);
  FProvider->GetOnManualJobsChanged().Remove(LToken);
  for (const TJobPtr& LJob : LManual) {
    EXPECT_EQ(LJob->GetNextExecution(), LNow);
    EXPECT_EQ(LJob->GetItemKind(), CAgentTaskItemKind);
    EXPECT_EQ(LJob->GetDisplayText(), GetAgentTaskName(LJob->GetIdentifier()));
    const auto LAction = std::dynamic_pointer_cast<TScannerJobAction>(LJob->GetJobAction());
    ASSERT_TRUE(LAction);
    EXPECT_EQ(LAction->AgentTaskId, LJob->GetIdentifier());
    EXPECT_FALSE(LAction->IsPredefined);
  }
  EXPECT_EQ(LManual[1]->GetJobAction()->ClassName(), "TSoftwareScannerJobAction");
  EXPECT_EQ(LManual[7]->GetJobAction()->ClassName(), "TFileScannerJobAction");
}

TEST_F(AgentTaskJobListProviderTest, EnqueuesAnswerWithTheSaveResultAndKeepOnlyWhatWasSaved) {
  const std::string LId(CComputerScannerId);
  FSaver->Result = ENOSPC;
  EXPECT_EQ(FProvider->EnqueueAgentTask(LId, Now()), ENOSPC);
  EXPECT_EQ(FProvider->EnqueueAgentTask(LId, Now(), 5), ENOSPC);
  EXPECT_EQ(FProvider->EnqueueAllAgentTasks(Now()), ENOSPC);
  // Every scanner was tried, and nothing that is not on disk is held.
  EXPECT_EQ(FSaver->SaveCount(), 10);
  EXPECT_TRUE(ManualJobs().empty());

  FSaver->Result = 0;
  EXPECT_EQ(FProvider->EnqueueAgentTask(LId, Now()), 0);
  EXPECT_EQ(FProvider->EnqueueAllAgentTasks(Now()), 0);
  EXPECT_EQ(ManualJobs().size(), 9u);
}

TEST_F(AgentTaskJobListProviderTest, RunAndWaitRunsCopyOfServerActionWhenServerConfiguredTheTask) {
  auto LServerAction = std::make_shared<TFileScannerJobAction>();
  LServerAction->Paths = {"/srv/share"};
  AnswerAlways({MakeServerJob(std::string(CFileScannerId), LServerAction)});
  Reload();
  const std::shared_ptr<TJobAction> LHeld = AutoJobs().at(0)->GetJobAction();

  std::shared_ptr<TScannerJobAction> LStarted;
  EXPECT_CALL(*FDispatcher, StartScanner(::testing::Matcher<const std::shared_ptr<TScannerJobAction>&>(_), _))
      .WillOnce([&](const std::shared_ptr<TScannerJobAction>& AAction, const TContinueCheck& ACanContinue) {
        LStarted = AAction;
        EXPECT_TRUE(ACanContinue());
        return true;
      });
  FProvider->RunAndWaitForAgentTask(std::string(CFileScannerId));
  const auto LFileAction = std::dynamic_pointer_cast<TFileScannerJobAction>(LStarted);
  ASSERT_TRUE(LFileAction);
  EXPECT_THAT(LFileAction->Paths, ElementsAre("/srv/share"));
  EXPECT_EQ(LFileAction->AgentTaskId, CFileScannerId);
  EXPECT_NE(LStarted.get(), LHeld.get());
}

TEST_F(AgentTaskJobListProviderTest, RunAndWaitRunsNewActionOfTheTaskClassWithoutServerJob) {
  std::shared_ptr<TScannerJobAction> LStarted;
  EXPECT_CALL(*FDispatcher, StartScanner(::testing::Matcher<const std::shared_ptr<TScannerJobAction>&>(_), _))
      .WillOnce([&](const std::shared_ptr<TScannerJobAction>& AAction, const TContinueCheck&) {
        LStarted = AAction;
        return false;
      });
  FProvider->RunAndWaitForAgentTask(std::string(CFileScannerId));
  const auto LFileAction = std::dynamic_pointer_cast<TFileScannerJobAction>(LStarted);
  ASSERT_TRUE(LFileAction);
  EXPECT_TRUE(LFileAction->Paths.empty());
  // The started task is the one asked for.
  EXPECT_EQ(LFileAction->AgentTaskId, CFileScannerId);
}

}  // namespace
}  // namespace Orvane
