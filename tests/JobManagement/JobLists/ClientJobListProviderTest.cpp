#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "Support/LogCapture.h"
#include "Support/JobIdentifiers.h"
#include "JobManagement/JobLists/ClientJobListProvider.h"
#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Return;
using TStrings = std::vector<std::string>;

class MockRequestSender : public IServerRequestSender {
public:
  MOCK_METHOD(int32_t, SendRequest, (TRequest&, TResponse&), (override));
};

// The client provider loading from the server the way its descendants do: every fetch asks.
class TTestClientProvider : public TClientJobListProvider<TScannerJobAction> {
public:
  using TClientJobListProvider<TScannerJobAction>::TClientJobListProvider;

protected:
  bool LoadJobs(TJobList& AJobs, int32_t& AManualJobCount) override REQUIRES(FSynchronizer) {
    TClientJobListProvider<TScannerJobAction>::LoadJobs(AJobs, AManualJobCount);
    AJobs = LoadJobsFromServer(FClientId.Value, TTessraItemKinds::Of(CAgentTaskItemKind), AManualJobCount);
    return true;
  }
};

TJobPtr MakeServerJob(const std::string& AIdentifier, bool AIsManual, bool AEnabled = true) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  LJob->SetDisplayText("Job " + AIdentifier);
  LJob->SetIsManual(AIsManual);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = "{" + AIdentifier + "}";
  LJob->SetJobAction(LAction);
  auto LCondition = Testing::FixedCondition(CNoDateTime);
  LCondition->Enabled = AEnabled;
  LJob->GetStartCondition()->AddCondition(LCondition);
  return LJob;
}

using Testing::Identifiers;

class ClientJobListProviderTest : public ::testing::Test {
protected:

  // The next request is answered with AJobs and AExistingIds; the request is kept in FLastRequest.
  void Answer(TJobList AJobs, TStrings AExistingIds) {
    EXPECT_CALL(*FSender, SendRequest(_, _))
        .WillOnce([this, AJobs, AExistingIds](TRequest& ARequest, TResponse& AResponse) {
          auto& LRequest = dynamic_cast<TCalcJobsForClientRequest&>(ARequest);
          FLastRequest = {LRequest.GetClientId(), LRequest.GetManualJobIds(), LRequest.GetTessraItemKinds()};
          auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
          for (const TJobPtr& LJob : AJobs) LResponse.GetJobList().push_back(CloneAs(*LJob));
          LResponse.GetExistingManualJobIds() = AExistingIds;
          return 0;
        });
  }
  TJobList Reload() {
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TJobList ManualJobs() { return FProvider->CreateSnapshot().ManualJobs; }

  struct TSeenRequest {
    std::string ClientId;
    TStrings ManualJobIds;
    TTessraItemKinds Kinds;
  };

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::shared_ptr<MockRequestSender> FSender = std::make_shared<::testing::StrictMock<MockRequestSender>>();
  std::shared_ptr<Testing::TRecordingJobListSaver> FSaver =
      std::make_shared<Testing::TRecordingJobListSaver>();
  std::shared_ptr<TTestClientProvider> FProvider = std::make_shared<TTestClientProvider>(
      FSender, std::make_shared<Testing::TRecordingStorageManager>(), FSaver,
      std::make_shared<Testing::TRecordingJobListLoader>(), TClientId{"client-7"});
  TSeenRequest FLastRequest;
};

TEST_F(ClientJobListProviderTest, ServerManualJobWithDisabledConditionBecomesManualJobDueAtLoadTime) {
  FProvider->AddManualJob(MakeServerJob("held", true));
  Answer({MakeServerJob("auto", false), MakeServerJob("now", true, false), MakeServerJob("later", true)},
         {"held"});
  const TJobList LFetched = Reload();

  EXPECT_EQ(FLastRequest.ClientId, "client-7");
  EXPECT_THAT(FLastRequest.ManualJobIds, ElementsAre("held"));
  EXPECT_EQ(FLastRequest.Kinds.Bits, 1u << 11);

  const TJobList LManual = ManualJobs();
  ASSERT_THAT(Identifiers(LManual), ElementsAre("held", "now", "later"));
  EXPECT_DOUBLE_EQ(LManual[1]->GetNextExecution(), Now());
  EXPECT_EQ(LManual[2]->GetNextExecution(), CNoDateTime);
  EXPECT_THAT(Identifiers(LFetched), ElementsAre("held", "now", "later", "auto"));
  // The provider's file was rewritten with each server manual job added.
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("held", "now", "later"));
  const std::vector<TLogEntry> LEntries = FLog->Entries();
  const auto LCount = std::find_if(LEntries.begin(), LEntries.end(), [](const TLogEntry& AEntry) {
    return AEntry.Kind == TLogEntryKind::Value && AEntry.Text == "Amount of found manual jobs";
  });
  ASSERT_NE(LCount, LEntries.end());
  EXPECT_EQ(LCount->Value, "3");  // counted on from the one manual job held before
}

TEST_F(ClientJobListProviderTest, ManualJobUnknownToServerIsAbortedAndOneKnownInAnyCaseStays) {
  FProvider->AddManualJob(MakeServerJob("gone", true));
  FProvider->AddManualJob(MakeServerJob("Kept", true));
  Answer({}, {"KEPT"});
  Reload();

  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre("Kept"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Aborted manual job: Job gone"));
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Object, "Aborted manual job: Job Kept"));
}

TEST_F(ClientJobListProviderTest, FailedRequestReturnsNothingAndAbortsNothing) {
  FProvider->AddManualJob(MakeServerJob("mine", true));
  EXPECT_CALL(*FSender, SendRequest(_, _)).WillOnce([](TRequest&, TResponse& AResponse) {
    // What a failed sender left in the answer is not looked at.
    dynamic_cast<TCalcJobsForClientResponse&>(AResponse).GetJobList().push_back(MakeServerJob("x", false));
    return 5;
  });
  const TJobList LFetched = Reload();
  EXPECT_THAT(Identifiers(LFetched), ElementsAre("mine"));
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Value, "Amount of found manual jobs"));
}

// A load retried after a failed update gets the same manual jobs again; they must not run twice.
TEST_F(ClientJobListProviderTest, ServerManualJobAlreadyHeldIsNotAddedAgain) {
  FProvider->AddManualJob(MakeServerJob("M1", true));
  Answer({MakeServerJob("m1", true)}, {"M1"});
  Reload();
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre("M1"));
}

TEST_F(ClientJobListProviderTest, ServerJobsWithoutIdentifierOrActionAreLoggedAndLeftOut) {
  TJobPtr LNoAction = MakeServerJob("no-action", false);
  LNoAction->SetJobAction(nullptr);
  Answer({MakeServerJob("", false), LNoAction, MakeServerJob("good", false)}, {});
  const TJobList LFetched = Reload();
  EXPECT_THAT(Identifiers(LFetched), ElementsAre("good"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Error), 2);
}

// The server reads and fills these members by name, through the serializer the objects name.
TEST(CalcJobsForClientDataTransferTest, RequestAndResponseTravelThroughTheirSerializerUnderTheirMemberNames) {
  TCalcJobsForClientRequest LRequest;
  LRequest.SetClientId("client-7");
  LRequest.GetManualJobIds() = {"a", "b"};
  LRequest.SetTessraItemKinds(TTessraItemKinds::Of(11));
  EXPECT_EQ(LRequest.GetCommandId(), "CalcJobsForClient");
  ASSERT_EQ(LRequest.GetSerializerClass(), "TSmartXmlSerializer");

  std::unique_ptr<TXmlSerializer> LWriter = CreateXmlSerializer(LRequest.GetSerializerClass());
  LWriter->WriteObject(LRequest);
  const std::string LXml = LWriter->GetXml();
  for (const char* LName : {"ClientId", "ManualJobIds", "TessraItemKinds"})
    EXPECT_NE(LXml.find(LName), std::string::npos) << LName << " in " << LXml;
  const auto LRead = std::dynamic_pointer_cast<TCalcJobsForClientRequest>(
      TClassRegistry::Instance().Create("TCalcJobsForClientRequest"));
  ASSERT_TRUE(LRead);
  std::unique_ptr<TXmlSerializer> LReader = CreateXmlSerializer(LRequest.GetSerializerClass());
  LReader->LoadFromXml(LXml);
  NodeToRecord(LReader->ReadRoot(), *LRead);
  EXPECT_EQ(LRead->GetClientId(), "client-7");
  EXPECT_THAT(LRead->GetManualJobIds(), ElementsAre("a", "b"));
  EXPECT_EQ(LRead->GetTessraItemKinds(), TTessraItemKinds::Of(11));

  TCalcJobsForClientResponse LResponse;
  LResponse.GetJobList().push_back(MakeServerJob("j1", true));
  LResponse.GetExistingManualJobIds() = {"j1"};
  std::unique_ptr<TXmlSerializer> LAnswer = CreateXmlSerializer(LResponse.GetSerializerClass());
  LAnswer->WriteObject(LResponse);
  TCalcJobsForClientResponse LReceived;
  std::unique_ptr<TXmlSerializer> LAnswerReader = CreateXmlSerializer(LResponse.GetSerializerClass());
  LAnswerReader->LoadFromXml(LAnswer->GetXml());
  NodeToRecord(LAnswerReader->ReadRoot(), LReceived);
  ASSERT_EQ(LReceived.GetJobList().size(), 1u);
  EXPECT_EQ(LReceived.GetJobList()[0]->GetIdentifier(), "j1");
  EXPECT_TRUE(LReceived.GetJobList()[0]->GetIsManual());
  EXPECT_THAT(LReceived.GetExistingManualJobIds(), ElementsAre("j1"));
}

}  // namespace
}  // namespace Orvane
