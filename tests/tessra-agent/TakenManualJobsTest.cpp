#include <gtest/gtest.h>

#include <fstream>

#include "AgentServerStandIn.h"
#include "JobManagement/JobKit.h"
#include "tessra-agent/JobListMessages.h"
#include "Support/TempDir.h"
#include "TakenManualJobs.h"

namespace Orvane {
namespace {

using Testing::TJobListRequest;
using Testing::TJobListResponse;

constexpr const char* CJobA = "{A0000000-0000-0000-0000-00000000000A}";
constexpr const char* CRunA = "{E0000000-0000-0000-0000-00000000000A}";
constexpr const char* CJobB = "{B0000000-0000-0000-0000-00000000000B}";  // no execution id
constexpr const char* CAutoJob = "{C0000000-0000-0000-0000-00000000000C}";

std::string JobXml(const std::string& AId, bool AManual, const std::string& AExecutionId = "") {
  return "<TJob><Identifier>" + AId + "</Identifier><IsManual>" + (AManual ? "true" : "false") +
         "</IsManual><JobAction Class=\"TScannerJobAction\"><ExecutionId>" + AExecutionId +
         "</ExecutionId><AgentTaskId>{F5C78CFA-15A8-434E-812F-6FB8908CB015}</AgentTaskId></JobAction></TJob>";
}

class TakenManualJobsTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteJobs(JobXml(CJobA, true, CRunA) + JobXml(CJobB, true) + JobXml(CAutoJob, false));
    FServer = std::make_shared<TAgentServerStandIn>(FTemp.Path(), FJobsFile);
  }
  void WriteJobs(const std::string& AJobs) {
    std::ofstream(FJobsFile) << "<TJobList>" << AJobs << "</TJobList>";
  }
  // The identifiers that the record lets through, for a client that holds AHeld.
  static std::vector<std::string> Ask(TTakenManualJobs& ARecord, std::vector<std::string> AHeld = {}) {
    TJobListRequest LRequest;
    LRequest.ManualJobIds = std::move(AHeld);
    TJobListResponse LResponse;
    EXPECT_EQ(ARecord.SendRequest(LRequest, LResponse), 0);
    std::vector<std::string> LIds;
    for (const TJobPtr& LJob : LResponse.JobList) LIds.push_back(LJob->GetIdentifier());
    return LIds;
  }
  static TJobPtr ManualJob(const std::string& AId, const std::string& AExecutionId) {
    const TJobPtr LJob = Testing::NewJob(AId, {.Task = "{F5C78CFA-15A8-434E-812F-6FB8908CB015}", .Manual = true});
    LJob->GetJobAction()->ExecutionId = AExecutionId;
    return LJob;
  }

  Testing::TTempDir FTemp;
  const std::string FJobsFile = FTemp.Path() + "/jobs.xml";
  std::shared_ptr<TAgentServerStandIn> FServer;
};

// Whether every job is taken once across kills is the end-to-end tests' business; here, what
// counts as taken.
TEST_F(TakenManualJobsTest, AJobIsTakenOnceItsSaveIsReportedOrTheClientHoldsItAndStaysTakenAcrossRestarts) {
  {
    TTakenManualJobs LRecord(FServer, FTemp.Path());
    EXPECT_EQ(Ask(LRecord), (std::vector<std::string>{CJobA, CJobB, CAutoJob}));
    LRecord.ManualJobSaved(ManualJob(CJobA, CRunA));
    // A job the answer did not hand out (enqueued on this client) is no server job.
    LRecord.ManualJobSaved(ManualJob("{D0000000-0000-0000-0000-00000000000D}", ""));
    EXPECT_EQ(LRecord.GetTaken(), std::vector<std::string>{CRunA});
  }
  // A new start reads what was taken; a job the client holds already (saved, and the agent killed
  // before the record was) is taken as well, by its identifier when it has no execution id.
  TTakenManualJobs LRecord(FServer, FTemp.Path());
  EXPECT_EQ(Ask(LRecord, {"{b0000000-0000-0000-0000-00000000000b}"}), std::vector<std::string>{CAutoJob});
  EXPECT_EQ(TTakenManualJobs(FServer, FTemp.Path()).GetTaken(), (std::vector<std::string>{CRunA, CJobB}));
}

TEST_F(TakenManualJobsTest, TheRecordForgetsWhatTheServerNoLongerLists) {
  TTakenManualJobs LRecord(FServer, FTemp.Path());
  Ask(LRecord, {CJobA, CJobB});
  EXPECT_EQ(LRecord.GetTaken(), (std::vector<std::string>{CRunA, CJobB}));
  WriteJobs(JobXml(CJobB, true));
  EXPECT_TRUE(Ask(LRecord).empty());
  EXPECT_EQ(TTakenManualJobs(FServer, FTemp.Path()).GetTaken(), std::vector<std::string>{CJobB});
  // Listed again, the job is a new one for the client.
  WriteJobs(JobXml(CJobA, true, CRunA) + JobXml(CJobB, true));
  EXPECT_EQ(Ask(LRecord), std::vector<std::string>{CJobA});
}

}  // namespace
}  // namespace Orvane
