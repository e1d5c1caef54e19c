#include <gmock/gmock.h>

#include <string>
#include <vector>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobManagement/JobLists/ClientJobListProvider.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane::Testing {
namespace {

using ::testing::_;
using ::testing::ElementsAre;

struct MockRequestSender : IServerRequestSender {
  MOCK_METHOD(int32_t, SendRequest, (TRequest&, TResponse&), (override));
};

// The client provider loading from the server the way its descendants do: every fetch asks.
struct TTestClientProvider : TClientJobListProvider<TScannerJobAction> {
  using TClientJobListProvider<TScannerJobAction>::TClientJobListProvider;
  bool LoadJobs(TJobList& AJobs, int32_t& AManualJobCount) override REQUIRES(FSynchronizer) {
    TClientJobListProvider<TScannerJobAction>::LoadJobs(AJobs, AManualJobCount);
    AJobs = LoadJobsFromServer(FClientId.Value, TTessraItemKinds::Of(CAgentTaskItemKind), AManualJobCount);
    return true;
  }
};

TJobPtr MakeServerJob(const std::string& AIdentifier, bool AIsManual, bool AEnabled = true) {
  auto LCondition = FixedCondition(CNoDateTime);
  LCondition->Enabled = AEnabled;
  const TJobPtr LJob = NewJob(AIdentifier, {.Manual = AIsManual, .Condition = LCondition});
  LJob->SetJobAction(std::make_shared<TScannerJobAction>());
  return LJob;
}

class ClientJobListProviderTest : public ::testing::Test {
protected:
  // The next request is answered with AJobs and AExistingIds.
  void Answer(TJobList AJobs, std::vector<std::string> AExistingIds) {
    EXPECT_CALL(*FSender, SendRequest(_, _)).WillOnce([=, this](TRequest& ARequest, TResponse& AResponse) {
      FRequest = dynamic_cast<TCalcJobsForClientRequest&>(ARequest).GetManualJobIds();
      auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
      for (const TJobPtr& LJob : AJobs) LResponse.GetJobList().push_back(CloneAs(*LJob));
      LResponse.GetExistingManualJobIds() = AExistingIds;
      return 0;
    });
    FProvider->SetLoadListFromServerOnNextFetch(true);
  }
  TJobList ManualJobs() { return FProvider->CreateSnapshot().ManualJobs; }

  TManualClockScope FClock;
  TLogCapture FLog;
  std::shared_ptr<MockRequestSender> FSender = std::make_shared<::testing::StrictMock<MockRequestSender>>();
  std::shared_ptr<TRecordingJobListSaver> FSaver = std::make_shared<TRecordingJobListSaver>();
  std::shared_ptr<TTestClientProvider> FProvider = std::make_shared<TTestClientProvider>(
      FSender, std::make_shared<TRecordingStorageManager>(), FSaver,
      std::make_shared<TRecordingJobListLoader>(), TClientId{"client-7"});
  std::vector<std::string> FRequest;  // the manual job ids sent
};

// A server manual job with a disabled condition is due at once; jobs without an identifier or an
// action are logged and left out; the count goes on from the manual jobs held before.
TEST_F(ClientJobListProviderTest,
       ServerManualJobWithDisabledConditionIsDueAtLoadTimeAndUnusableJobsAreLeftOut) {
  FProvider->AddManualJob(MakeServerJob("held", true));
  TJobPtr LNoAction = MakeServerJob("no-action", false);
  LNoAction->SetJobAction(nullptr);
  Answer({MakeServerJob("auto", false), MakeServerJob("now", true, false), MakeServerJob("later", true),
          MakeServerJob("", false), LNoAction},
         {"held"});
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("held", "now", "later", "auto"));
  EXPECT_THAT(FRequest, ElementsAre("held"));
  const TJobList LManual = ManualJobs();
  EXPECT_DOUBLE_EQ(LManual[1]->GetNextExecution(), Now());
  EXPECT_EQ(LManual[2]->GetNextExecution(), CNoDateTime);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("held", "now", "later"));
  EXPECT_EQ(FLog->Entries()[FLog->IndexOf(TLogEntryKind::Value, "Amount of found manual jobs")].Value, "3");
  EXPECT_EQ(FLog->Count(TLogEntryKind::Error), 2);
}

// A load retried after a failed update gets the same manual jobs again; they must not run twice.
TEST_F(ClientJobListProviderTest, ManualJobUnknownToServerIsAbortedAndOneAlreadyHeldIsNotAddedAgain) {
  for (const char* LId : {"gone", "Kept", "M1"}) FProvider->AddManualJob(MakeServerJob(LId, true));
  Answer({MakeServerJob("m1", true)}, {"KEPT", "M1"});
  FProvider->FetchJobList();
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre("Kept", "M1"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Aborted manual job: Job gone"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Aborted manual job"), 1);
}

}  // namespace
}  // namespace Orvane::Testing
