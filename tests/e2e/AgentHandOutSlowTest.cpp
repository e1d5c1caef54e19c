// The server's manual jobs across kills: an agent killed at random moments while it takes the jobs
// the server hands out, and started again each time, takes each job once.

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "AgentE2ESupport.h"
#include "OrvaneCore/Platform/Guid.h"

namespace Orvane::E2E {
namespace {

// How often each execution id was reported started (or aborted) in DATA/server/reports.log.
std::map<std::string, int> StartsByExecutionId(const fs::path& AReportsLog) {
  std::map<std::string, int> LStarts;
  std::istringstream LLines(ReadFile(AReportsLog));
  for (std::string LLine; std::getline(LLines, LLine);) {
    std::istringstream LFields(LLine);
    std::string LDate, LTime, LWhat, LExecutionId;
    LFields >> LDate >> LTime >> LWhat >> LExecutionId;
    if (LWhat == "started" || LWhat == "aborted") ++LStarts[LExecutionId];
  }
  return LStarts;
}

// Every start adds three manual jobs to the server's list, and the agent is killed at a random
// moment of its first turn, while it takes them: the job list saves them and the record notes
// them. The jobs are due an hour after they arrive, so that none runs while the kills go on and
// every kill falls on the hand-out. A last run on a clock 3600 times faster runs them all: each
// must have started exactly once, and the record must hold them all.
TEST_F(AgentE2ETest, AgentKilledWhileTakingTheServersJobsTakesEachJobOnce) {
  constexpr int CKills = 100;
  constexpr int CNewJobsPerStart = 3;
  const std::string LDueInAnHour =
      "<Item Class=\"TStartConditionOnDelay\"><DelayValue>60</DelayValue><ValueUnit>0</ValueUnit></Item>";
  const fs::path LJobsFile = FWorkDir / "jobs.xml";
  const unsigned LSeed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(LSeed));
  std::mt19937 LRandom(LSeed);
  std::uniform_int_distribution<int> LKillAfterMs(0, 40);

  // An automatic job as well: an answer without one would add a settings watch at every start.
  std::string LJobs =
      "  <TJob><Identifier>{5C0D1E2F-3A4B-4C5D-8E6F-7A8B9C0D1E2F}</Identifier><ItemKind>11</ItemKind>"
      "<JobAction Class=\"TScannerJobAction\"><AgentTaskId>" + std::string(CClientCommandsScannerId) +
      "</AgentTaskId></JobAction><StartCondition Class=\"TStartConditionFacade\"><Conditions><Item "
      "Class=\"TStartConditionInterval\"><IntervalValue>1</IntervalValue><IntervalUnit>2</IntervalUnit></Item>"
      "</Conditions></StartCondition></TJob>\n";
  std::vector<std::string> LExecutionIds;
  for (int LKill = 0; LKill < CKills; ++LKill) {
    for (int I = 0; I < CNewJobsPerStart; ++I) {
      LExecutionIds.push_back(CreateGuidString());
      LJobs += ManualJobXml(CreateGuidString(), LExecutionIds.back(), LDueInAnHour, CClientCommandsScannerId);
    }
    WriteFile(LJobsFile, JobListXml(LJobs));
    TAgentProcess LAgent(FWorkDir, {"run", "--data-dir", FDataDir.string(), "--jobs", LJobsFile.string()},
                         "killed");
    // The first turn, which asks the server, follows the line at once.
    const TMonoTime LBound = TClock::RealMonotonic() + TMonoTime(static_cast<int64_t>(CWaitSeconds * 1e9));
    while (!LAgent.OutContains("tessra-agent running") && TClock::RealMonotonic() < LBound) Clock().SleepMs(1);
    ASSERT_TRUE(LAgent.OutContains("tessra-agent running")) << LAgent.Err();
    Clock().SleepMs(LKillAfterMs(LRandom));
    LAgent.Signal(SIGKILL);
    LAgent.WaitForExit();
  }

  TAgentProcess LLast(FWorkDir,
                      {"run", "--data-dir", FDataDir.string(), "--jobs", LJobsFile.string(), "--time-scale", "3600"},
                      "last");
  const fs::path LReportsLog = ServerFile("reports.log");
  const auto LAllStarted = [&] {
    const std::map<std::string, int> LStarts = StartsByExecutionId(LReportsLog);
    return std::all_of(LExecutionIds.begin(), LExecutionIds.end(),
                       [&](const std::string& AId) { return LStarts.contains(AId); });
  };
  EXPECT_TRUE(PollFor(LAllStarted, 60));
  LLast.Signal(SIGINT);
  EXPECT_EQ(LLast.WaitForExit(), 0);

  const std::map<std::string, int> LStarts = StartsByExecutionId(LReportsLog);
  std::set<std::string> LTaken;
  std::istringstream LRecord(ReadFile(FDataDir / "taken-manual-jobs"));
  for (std::string LLine; std::getline(LRecord, LLine);) LTaken.insert(LLine);
  int LLost = 0, LTwice = 0, LNotRecorded = 0;
  for (const std::string& LId : LExecutionIds) {
    const int LCount = LStarts.contains(LId) ? LStarts.at(LId) : 0;
    LLost += LCount == 0;
    LTwice += LCount > 1;
    LNotRecorded += !LTaken.contains(LId);
  }
  EXPECT_EQ(LLost, 0);
  EXPECT_EQ(LTwice, 0);
  EXPECT_EQ(LNotRecorded, 0);
  EXPECT_EQ(LTaken.size(), LExecutionIds.size());
}

}  // namespace
}  // namespace Orvane::E2E
