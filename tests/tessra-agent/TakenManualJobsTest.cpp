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

// The identifiers that the record lets through, for a client that holds AHeld.
TIds Ask(TTakenManualJobs& ARecord, TIds AHeld = {}) {
  const auto [LResult, LJobs, LExisting] = Testing::AskForJobs(ARecord, std::move(AHeld));
  EXPECT_EQ(LResult, 0);
  return LJobs;
}

// That each job is taken once across kills and restarts is the end-to-end hand-out tests' case;
// here, a job the client holds already is taken (by its identifier in any letter case when it has no
// execution id), and the record forgets what the server no longer lists.
TEST(TakenManualJobsTest, AHeldJobIsTakenAndTheRecordForgetsWhatTheServerNoLongerLists) {
  Testing::TTempDir LTemp;
  const std::string LJobsFile = LTemp.Path() + "/jobs.xml";
  const auto LWriteJobs = [&](const std::string& AJobs) {
    Testing::WriteFile(LJobsFile, "<TJobList>" + AJobs + "</TJobList>");
  };
  LWriteJobs(JobXml(CJobA, true, CRunA) + JobXml(CJobB, true) + JobXml(CAutoJob, false));
  const auto LServer = std::make_shared<TAgentServerStandIn>(LTemp.Path(), LJobsFile);
  TTakenManualJobs LRecord(LServer, LTemp.Path());
  EXPECT_EQ(Ask(LRecord, {CJobA, "{b0000000-0000-0000-0000-00000000000b}"}), TIds{CAutoJob});
  EXPECT_EQ(LRecord.GetTaken(), (TIds{CRunA, CJobB}));
  LWriteJobs(JobXml(CJobB, true));
  EXPECT_TRUE(Ask(LRecord).empty());
  EXPECT_EQ(TTakenManualJobs(LServer, LTemp.Path()).GetTaken(), TIds{CJobB});
  // Listed again, the job is a new one for the client.
  LWriteJobs(JobXml(CJobA, true, CRunA) + JobXml(CJobB, true));
  EXPECT_EQ(Ask(LRecord), TIds{CJobA});
}

}  // namespace
}  // namespace Orvane
