#include <gtest/gtest.h>

#include "AgentServerStandIn.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"
#include "TakenManualJobs.h"
#include "tessra-agent/JobListMessages.h"

namespace Orvane {
namespace {

using TIds = std::vector<std::string>;

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
    Testing::WriteFile(FJobsFile, "<TJobList>" + AJobs + "</TJobList>");
  }
  // The identifiers that the record lets through, for a client that holds AHeld.
  static TIds Ask(TTakenManualJobs& ARecord, TIds AHeld = {}) {
    const auto [LResult, LJobs, LExisting] = Testing::AskForJobs(ARecord, std::move(AHeld));
    EXPECT_EQ(LResult, 0);
    return LJobs;
  }

  Testing::TTempDir FTemp;
  const std::string FJobsFile = FTemp.Path() + "/jobs.xml";
  std::shared_ptr<TAgentServerStandIn> FServer;
};

// That each job is taken once across kills and restarts is the end-to-end hand-out tests' case;
// here, a job the client holds already is taken (by its identifier in any letter case when it has no
// execution id), and the record forgets what the server no longer lists.
TEST_F(TakenManualJobsTest, AHeldJobIsTakenAndTheRecordForgetsWhatTheServerNoLongerLists) {
  TTakenManualJobs LRecord(FServer, FTemp.Path());
  EXPECT_EQ(Ask(LRecord, {CJobA, "{b0000000-0000-0000-0000-00000000000b}"}), TIds{CAutoJob});
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
