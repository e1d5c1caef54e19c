// The server's manual jobs across kills: an agent killed at random moments while it takes the jobs
// the server hands out, and started again each time, takes each job once.

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "AgentE2ESupport.h"
#include "Support/NginxServer.h"
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

// How often each execution id was handed to a processor in the agent's output AOut, by the job ids
// of AJobIds (parallel to AExecutionIds).
std::map<std::string, int> StartsInOutput(const std::string& AOut, const std::vector<std::string>& AJobIds,
                                          const std::vector<std::string>& AExecutionIds) {
  std::map<std::string, int> LStarts;
  for (std::size_t I = 0; I < AJobIds.size(); ++I) {
    const std::string LLine = "handed to a processor  Manual scan " + AJobIds[I];
    for (std::size_t LAt = AOut.find(LLine); LAt != std::string::npos; LAt = AOut.find(LLine, LAt + 1))
      ++LStarts[AExecutionIds[I]];
  }
  return LStarts;
}

// Where the killed agents take their jobs from: the stand-in's jobs file or a web server.
struct THandOutSource {
  std::function<void(const std::string&)> Publish;       // the job list's new text
  std::vector<std::string> Arguments;                     // the run's arguments for it
  // After the last run: each execution id's starts, and whether its finish is on the server.
  std::function<std::map<std::string, int>(const TAgentProcess&)> Starts;
  std::function<bool(const std::string&)> Finished;
};

// Every start adds three manual jobs to the server's list, and the agent is killed at a random
// moment of its first turn, while it takes them: the job list saves them and the record notes
// them. The jobs are due an hour after they arrive, so that none runs while the kills go on and
// every kill falls on the hand-out. With AJobsDueNow, each start also adds one job due at once,
// so that kills fall on its run and its reports too. A last run on a clock 3600 times faster runs
// them all: each delayed job must have started exactly once, every job must have finished, and the
// record must hold them all.
void KillWhileTakingJobs(const fs::path& AWorkDir, const fs::path& ADataDir, const THandOutSource& ASource,
                         int AKills, bool AJobsDueNow) {
  constexpr int CNewJobsPerStart = 3;
  const std::string LDueInAnHour =
      "<Item Class=\"TStartConditionOnDelay\"><DelayValue>60</DelayValue><ValueUnit>0</ValueUnit></Item>";
  const unsigned LSeed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(LSeed));
  std::mt19937 LRandom(LSeed);
  std::uniform_int_distribution<int> LKillAfterMs(0, AJobsDueNow ? 300 : 40);

  // An automatic job as well: an answer without one would add a settings watch at every start.
  std::string LJobs =
      "  <TJob><Identifier>{5C0D1E2F-3A4B-4C5D-8E6F-7A8B9C0D1E2F}</Identifier><ItemKind>11</ItemKind>"
      "<JobAction Class=\"TScannerJobAction\"><AgentTaskId>" + std::string(CClientCommandsScannerId) +
      "</AgentTaskId></JobAction><StartCondition Class=\"TStartConditionFacade\"><Conditions><Item "
      "Class=\"TStartConditionInterval\"><IntervalValue>1</IntervalValue><IntervalUnit>2</IntervalUnit></Item>"
      "</Conditions></StartCondition></TJob>\n";
  std::vector<std::string> LJobIds, LExecutionIds, LDueNowIds;
  for (int LKill = 0; LKill < AKills; ++LKill) {
    for (int I = 0; I < CNewJobsPerStart; ++I) {
      LJobIds.push_back(CreateGuidString());
      LExecutionIds.push_back(CreateGuidString());
      LJobs += ManualJobXml(LJobIds.back(), LExecutionIds.back(), LDueInAnHour, CClientCommandsScannerId);
    }
    if (AJobsDueNow) {
      LDueNowIds.push_back(CreateGuidString());
      LJobs += ManualJobXml(CreateGuidString(), LDueNowIds.back(), "", CClientCommandsScannerId);
    }
    ASource.Publish(JobListXml(LJobs));
    std::vector<std::string> LArgs = {"run", "--data-dir", ADataDir.string()};
    LArgs.insert(LArgs.end(), ASource.Arguments.begin(), ASource.Arguments.end());
    TAgentProcess LAgent(AWorkDir, LArgs, "killed");
    // The first turn, which asks the server, follows the line at once.
    const TMonoTime LBound = TClock::RealMonotonic() + TMonoTime(static_cast<int64_t>(CWaitSeconds * 1e9));
    while (!LAgent.OutContains("tessra-agent running") && TClock::RealMonotonic() < LBound) Clock().SleepMs(1);
    ASSERT_TRUE(LAgent.OutContains("tessra-agent running")) << LAgent.Err();
    Clock().SleepMs(LKillAfterMs(LRandom));
    LAgent.Signal(SIGKILL);
    LAgent.WaitForExit();
  }

  std::vector<std::string> LArgs = {"run", "--data-dir", ADataDir.string(), "--time-scale", "3600"};
  LArgs.insert(LArgs.end(), ASource.Arguments.begin(), ASource.Arguments.end());
  TAgentProcess LLast(AWorkDir, LArgs, "last");
  std::vector<std::string> LAllIds = LExecutionIds;
  LAllIds.insert(LAllIds.end(), LDueNowIds.begin(), LDueNowIds.end());
  const auto LAllFinished = [&] {
    return std::all_of(LAllIds.begin(), LAllIds.end(), [&](const std::string& AId) { return ASource.Finished(AId); });
  };
  EXPECT_TRUE(PollFor(LAllFinished, 60)) << [&] {
    std::string LMissing;
    for (const std::string& AId : LAllIds)
      if (!ASource.Finished(AId)) LMissing += " " + AId;
    return "not finished:" + LMissing;
  }();
  LLast.Signal(SIGINT);
  EXPECT_EQ(LLast.WaitForExit(), 0);

  const std::map<std::string, int> LStarts =
      ASource.Starts ? ASource.Starts(LLast) : StartsInOutput(LLast.Out(), LJobIds, LExecutionIds);
  std::set<std::string> LTaken;
  std::istringstream LRecord(ReadFile(ADataDir / "taken-manual-jobs"));
  for (std::string LLine; std::getline(LRecord, LLine);) LTaken.insert(LLine);
  int LLost = 0, LTwice = 0, LNotRecorded = 0;
  for (const std::string& LId : LExecutionIds) {
    const int LCount = LStarts.contains(LId) ? LStarts.at(LId) : 0;
    LLost += LCount == 0;
    LTwice += LCount > 1;
  }
  for (const std::string& LId : LAllIds) LNotRecorded += !LTaken.contains(LId);
  EXPECT_EQ(LLost, 0);
  EXPECT_EQ(LTwice, 0);
  EXPECT_EQ(LNotRecorded, 0);
  EXPECT_EQ(LTaken.size(), LAllIds.size());
}

TEST_F(AgentE2ETest, AgentKilledWhileTakingTheServersJobsTakesEachJobOnce) {
  const fs::path LJobsFile = FWorkDir / "jobs.xml";
  const fs::path LReportsLog = ServerFile("reports.log");
  THandOutSource LStandIn;
  LStandIn.Publish = [&](const std::string& AText) { WriteFile(LJobsFile, AText); };
  LStandIn.Arguments = {"--jobs", LJobsFile.string()};
  LStandIn.Starts = [&](const TAgentProcess&) { return StartsByExecutionId(LReportsLog); };
  LStandIn.Finished = [&](const std::string& AId) { return StartsByExecutionId(LReportsLog).contains(AId); };
  KillWhileTakingJobs(FWorkDir, FDataDir, LStandIn, 100, false);
}

// The same against a web server over mutual TLS, the kills falling on the fetch, the saves and the
// reports: every finish arrives.
TEST_F(AgentE2ETest, AgentKilledWhileTakingAndReportingAWebServersJobsTakesEachJobOnce) {
  const Testing::TTestPki LPki = Testing::MakeTestPki(FWorkDir.string(), "e2e");
  Testing::TNginxServer LServer(Testing::ExampleSiteOptions(LPki));
  THandOutSource LWeb;
  LWeb.Publish = [&](const std::string& AText) { LServer.WriteFile("clients/e2e/jobs.xml", AText); };
  LWeb.Arguments = {"--server", LServer.Url(), "--ca-file", LPki.CaCert, "--client-cert", LPki.ClientCert,
                    "--client-key", LPki.ClientKey, "--client-id", "e2e"};
  LWeb.Finished = [&](const std::string& AId) {
    return LServer.ReadFile("clients/e2e/reports/" + AId + ".finished.xml").find("<Result>") != std::string::npos;
  };
  KillWhileTakingJobs(FWorkDir, FDataDir, LWeb, 50, true);
}

}  // namespace
}  // namespace Orvane::E2E
