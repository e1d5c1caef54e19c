#include <gmock/gmock.h>

#include <cerrno>
#include <optional>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobServices/AgentTask/JobListProvider.Client.h"
#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Jobs/JobAction.h"
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
using Testing::Identifiers;

class MockRequestSender : public IServerRequestSender {
public:
  MOCK_METHOD(int32_t, SendRequest, (TRequest&, TResponse&), (override));
};

// An automatic agent-task job of the server, due whenever it is asked.
TJobPtr MakeServerJob(std::string_view AContentId) {
  const std::string LId(AContentId);
  return Testing::NewJob("job-" + LId, {.Task = LId, .Condition = Testing::FixedCondition(0.0)});
}

class AgentTaskJobListProviderTest : public ::testing::Test {
protected:
  // Every request is answered with AJobs, and with AKnown as the manual job ids the server still
  // knows (by default those of the request).
  void AnswerAlways(TJobList AJobs, std::optional<std::vector<std::string>> AKnown = std::nullopt) {
    ON_CALL(*FSender, SendRequest(_, _)).WillByDefault([=](TRequest& ARequest, TResponse& AResponse) {
      auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
      for (const TJobPtr& LJob : AJobs) LResponse.GetJobList().push_back(CloneAs(*LJob));
      LResponse.GetExistingManualJobIds() =
          AKnown.value_or(dynamic_cast<TCalcJobsForClientRequest&>(ARequest).GetManualJobIds());
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
  EXPECT_TRUE(SameDateTime(LManual[0]->GetNextExecution(), IncSeconds(LLoadTime, 3600)));
  EXPECT_FALSE(LManual[0]->GetIsRegularJob());
  // Further empty answers while it waits add no second one.
  Reload();
  Reload();
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre(std::string(CSettingsWatchId)));

  // Once the scheduler took it off the list, the next empty answer plans the next one.
  FProvider->RemoveManualJob(LManual[0]);
  Reload();
  EXPECT_EQ(ManualJobs().size(), 1u);
}

// A request that fails is no empty list: the automatic jobs stay, the load stays pending for the
// next fetch, and the settings watch is planned as for an empty answer.
TEST_F(AgentTaskJobListProviderTest, AFailedRequestKeepsTheAutomaticJobsAndTheLoadPending) {
  AnswerAlways({MakeServerJob(CRulesId)});
  Reload();
  ON_CALL(*FSender, SendRequest(_, _)).WillByDefault([](TRequest&, TResponse&) { return 1; });
  Reload();
  EXPECT_EQ(Identifiers(AutoJobs()), std::vector<std::string>{"job-" + std::string(CRulesId)});
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre(std::string(CSettingsWatchId)));
}

// The excluded content id in any letter case never becomes an automatic job; of two server jobs
// with one identifier (in any case) the first is kept.
TEST_F(AgentTaskJobListProviderTest, ExcludedContentIdIsLeftOutAndADuplicateIdentifierIsIgnored) {
  TJobPtr LDuplicate = MakeServerJob(CRulesId);
  LDuplicate->SetIdentifier(UpperCase(LDuplicate->GetIdentifier()));
  AnswerAlways({MakeServerJob("{50016f8b-504d-4d1d-ace0-a94f6eac704f}"),
                MakeServerJob(CExcludedAgentTaskContentId), MakeServerJob(CRulesId), LDuplicate,
                MakeServerJob(CFileScannerId)});
  Reload();
  EXPECT_EQ(Identifiers(AutoJobs()),
            (std::vector<std::string>{"job-" + std::string(CRulesId), "job-" + std::string(CFileScannerId)}));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning), 1);
}

// A load retried after a failed update gets the same manual jobs again; they must not run twice. A
// manual job the server no longer knows is aborted.
TEST_F(AgentTaskJobListProviderTest, ManualJobUnknownToServerIsAbortedAndOneAlreadyHeldIsNotAddedAgain) {
  const auto ServerJob = [](const std::string& AId) {
    return Testing::NewJob(AId, {.Task = "{" + AId + "}", .Manual = true});
  };
  for (const char* LId : {"gone", "Kept", "M1"}) FProvider->AddManualJob(ServerJob(LId));
  AnswerAlways({ServerJob("m1")}, {{"KEPT", "M1"}});
  Reload();
  // No automatic job came: the settings watch is planned as well.
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre("Kept", "M1", std::string(CSettingsWatchId)));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Aborted manual job: Job gone"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Aborted manual job"), 1);
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

}  // namespace
}  // namespace Orvane
