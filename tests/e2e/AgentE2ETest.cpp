// The agent's service: scans at start, bad input, manual jobs from the server, and what it leaves
// in its data directory.

#include "AgentE2ESupport.h"
#include "Support/UmaskScope.h"

namespace Orvane::E2E {
namespace {

TEST_F(AgentE2ETest, ScannerRunsAtStartAndWritesWellFormedResult) {
  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(LAgent.Started());
  ASSERT_TRUE(
      LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();
  const fs::path LResults = FDataDir / "results" / "Computer Scanner";
  std::vector<fs::path> LFiles;
  for (const auto& LEntry : fs::directory_iterator(LResults)) LFiles.push_back(LEntry.path());
  ASSERT_FALSE(LFiles.empty());

  TXmlSerializer LSerializer;
  LSerializer.LoadFromFile(LFiles.front().string());
  const TDataNode LRoot = LSerializer.ReadRoot();
  EXPECT_EQ(LRoot.Name, "TComputerInventory");
  for (const char* LMember : {"HostName", "CpuCount", "FileSystems", "NetworkInterfaces"}) {
    const TDataNode* LNode = LRoot.Find(LMember);
    EXPECT_TRUE(LNode && (!LNode->Text.empty() || !LNode->Children.empty())) << LMember;
  }

  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: stopped"));
}

TEST_F(AgentE2ETest, BadUsageAndBadInputExitWithCode2) {
  const fs::path LBroken = FWorkDir / "broken.xml";
  WriteFile(LBroken, "<TJobList><TJob><Identifier>x</Identifier>");
  // A text that is not UTF-8 makes the file as unusable as broken XML.
  const fs::path LLatin1 = FWorkDir / "latin1.xml";
  WriteFile(LLatin1, JobListXml("  <TJob><Identifier>x</Identifier><DisplayText>caf\xE9</DisplayText></TJob>\n"));
  // A plain file where the data directory should be.
  WriteFile(FWorkDir / "not-a-dir", "");
  const struct {
    std::vector<std::string> Arguments;
    std::string Error;
  } LCases[] = {
      {{"run", "--no-such-option"}, "--no-such-option"},
      {RunArguments({"--jobs", LBroken.string()}), "the jobs file " + LBroken.string() + " cannot be used"},
      {RunArguments({"--jobs", LLatin1.string()}), "is not valid UTF-8"},
      {{"run", "--data-dir", (FWorkDir / "not-a-dir" / "data").string()}, "cannot create the data directory"},
  };
  for (const auto& LCase : LCases) {
    std::string LOut, LErr;
    EXPECT_EQ(RunCommand(LCase.Arguments, "bad", &LOut, &LErr), 2) << LCase.Error;
    EXPECT_NE(LErr.find(LCase.Error), std::string::npos) << LErr;
    EXPECT_EQ(LOut.find("tessra-agent running"), std::string::npos) << LOut;
  }
  std::string LHelp;
  EXPECT_EQ(RunCommand({"run", "--help"}, "help", &LHelp), 0);
  EXPECT_NE(LHelp.find("--time-scale"), std::string::npos);
}

// A job aborted on the server is ended without a run when it arrives; a job cancelled there before
// it is due is aborted at the next reload. Neither comes back at a new start.
TEST_F(AgentE2ETest, ManualJobsAbortedOrCancelledOnTheServerAreNotRunAndDoNotComeBack) {
  fs::create_directories(FDataDir / "server");
  fs::permissions(FDataDir, fs::perms::owner_all, fs::perm_options::replace);
  WriteFile(ServerFile("aborted"), std::string(CManualExecutionId) + "\n");
  WriteFile(ServerFile("cancelled"), std::string(CDelayedJobId) + "\n");
  // Due 5 minutes after it arrives (5 seconds here): the next reload, which the settings watch at
  // start brings, finds it cancelled first.
  const std::string LDelay =
      "<Item Class=\"TStartConditionOnDelay\"><DelayValue>5</DelayValue><ValueUnit>0</ValueUnit></Item>";
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId) + ManualJobXml(CDelayedJobId, "", LDelay) +
                              SettingsWatchXml()));
  {
    // The abort of the cancelled job is logged with the job attached, which the debug level shows.
    const fs::path LLog = FWorkDir / "agent.log";
    std::vector<std::string> LArgs = RunArguments({"--jobs", LJobs.string(), "--log-file", LLog.string()});
    LArgs[6] = "debug";
    TAgentProcess LAgent(FWorkDir, LArgs, "run1");
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("aborted                Manual scan ") + CManualJobId))
        << LAgent.Out() << LAgent.Err();
    ASSERT_TRUE(LAgent.WaitForOutput("done                   Settings watch")) << LAgent.Out() << LAgent.Err();
    EXPECT_TRUE(PollFor([&] {
      return ReadFile(ServerFile("reports.log")).find(std::string("aborted ") + CManualExecutionId) !=
                 std::string::npos &&
             ReadFile(LLog).find("Aborted manual job: Manual scan " + std::string(CDelayedJobId)) != std::string::npos;
    }));
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0);
    // The processor ends the aborted job ("done") without running it: no scan, no finish report.
    EXPECT_EQ(LAgent.Err().find("Computer Scanner result:"), std::string::npos) << LAgent.Err();
    EXPECT_EQ(ReadFile(ServerFile("reports.log")).find("finished"), std::string::npos);
    EXPECT_FALSE(LAgent.OutContains(std::string("handed to a processor  Manual scan ") + CDelayedJobId));
    // Gone from the saved manual jobs as well.
    EXPECT_EQ(ReadFile(FDataDir / "Orvane" / "Tessra" / "AgentTasks" / "ManualJobsInJobListProvider.xml")
                  .find(CDelayedJobId),
              std::string::npos);
  }
  // A new start: the server handed the jobs out already and does not hand them out again.
  TAgentProcess LAgain(FWorkDir, TraceRunArguments({"--jobs", LJobs.string()}), "run2");
  ASSERT_TRUE(WaitForFirstTurn(LAgain)) << LAgain.Err();
  LAgain.Signal(SIGINT);
  ASSERT_EQ(LAgain.WaitForExit(), 0);
  EXPECT_FALSE(LAgain.OutContains(CManualJobId)) << LAgain.Out();
  EXPECT_FALSE(LAgain.OutContains(CDelayedJobId)) << LAgain.Out();
}

TEST_F(AgentE2ETest, EditedJobsFileIsMergedAtTheNextReloadAndABrokenOneIsSurvived) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(SettingsWatchXml()));
  // 5 minutes of the settings watch are 2.5 seconds here.
  std::vector<std::string> LArgs = RunArguments({"--jobs", LJobs.string()});
  LArgs[4] = "120";
  TAgentProcess LAgent(FWorkDir, LArgs);
  ASSERT_TRUE(LAgent.WaitForOutput("done                   Settings watch")) << LAgent.Out() << LAgent.Err();

  // A broken file: the next reload logs it and keeps the last good list; the agent keeps running.
  WriteFile(LJobs, "<TJobList><TJob>");
  ASSERT_TRUE(PollFor([&] {
    return LAgent.Err().find("cannot be read; the last job list read is used") != std::string::npos;
  })) << LAgent.Err();

  // Repaired with a new manual job: merged at the reload after that.
  WriteFile(LJobs, JobListXml(ManualJobXml(CSecondManualJobId, CSecondExecutionId) + SettingsWatchXml()));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CSecondManualJobId))
      << LAgent.Out() << LAgent.Err();
  EXPECT_TRUE(PollFor([&] {
    return ReadFile(ServerFile("reports.log")).find(std::string("finished ") + CSecondExecutionId) !=
           std::string::npos;
  }));
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0);
  EXPECT_NE(ReadFile(FDataDir / "taken-manual-jobs").find(CSecondExecutionId), std::string::npos);
}

// Links planted in the data directory lead nowhere: a report that cannot be written is logged with
// its content instead, and a results folder that is a link gets nothing written and loses nothing.
TEST_F(AgentE2ETest, SymbolicLinksInTheDataDirectoryAreNotWrittenThroughOrPruned) {
  const fs::path LElsewhere = FWorkDir / "elsewhere";
  fs::create_directories(LElsewhere);
  fs::create_directories(FDataDir / "server");
  fs::create_directories(FDataDir / "results");
  fs::permissions(FDataDir, fs::perms::owner_all, fs::perm_options::replace);
  WriteFile(LElsewhere / "reports.log", "");
  fs::create_symlink(LElsewhere / "reports.log", ServerFile("reports.log"));
  // More documents than a task keeps, where the results link leads.
  for (int I = 10; I < 22; ++I) WriteFile(LElsewhere / ("20010101-0000" + std::to_string(I) + "-000.xml"), "old");
  fs::create_directory_symlink(LElsewhere, FDataDir / "results" / "Computer Scanner");
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId)));

  TAgentProcess LAgent(FWorkDir, RunArguments({"--jobs", LJobs.string()}));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CManualJobId))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGINT);
  ASSERT_EQ(LAgent.WaitForExit(), 0);
  const std::string LErr = LAgent.Err();
  EXPECT_NE(LErr.find(ServerFile("reports.log").string() + ": a symbolic link"), std::string::npos) << LErr;
  // Each report is in the error line, as it would have been written.
  for (const std::string LReport : {"started ", "finished "}) {
    const std::size_t LAt = LErr.find(LReport + CManualExecutionId);
    ASSERT_NE(LAt, std::string::npos) << LReport << LErr;
    EXPECT_NE(LErr.rfind("; the report: ", LAt), std::string::npos);
    EXPECT_GT(LErr.rfind("; the report: ", LAt), LErr.rfind('\n', LAt));
  }
  EXPECT_NE(LErr.find("Computer Scanner: the result cannot be written"), std::string::npos) << LErr;
  EXPECT_EQ(ReadFile(LElsewhere / "reports.log"), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(LElsewhere), fs::directory_iterator()), 13);
}

// Whatever the umask, everything the agent makes in its data directory, and its log file, is for
// its user alone.
TEST_F(AgentE2ETest, WhatTheAgentCreatesIsOwnerOnlyWhateverTheUmask) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId)));
  const fs::path LLog = FWorkDir / "logs" / "agent.log";
  std::unique_ptr<TAgentProcess> LAgent;
  {
    Testing::TUmaskScope LUmask(0);
    LAgent = std::make_unique<TAgentProcess>(FWorkDir, RunArguments({"--jobs", LJobs.string(), "--log-file",
                                                                     LLog.string()}));
  }
  ASSERT_TRUE(LAgent->WaitForOutput(std::string("done                   Manual scan ") + CManualJobId))
      << LAgent->Out() << LAgent->Err();
  LAgent->Signal(SIGINT);
  ASSERT_EQ(LAgent->WaitForExit(), 0);

  const auto LModeOf = [](const fs::path& APath) {
    return static_cast<unsigned>(fs::symlink_status(APath).permissions() & fs::perms::all);
  };
  std::vector<fs::path> LChecked = {FDataDir, LLog.parent_path(), LLog};
  for (const auto& LEntry : fs::recursive_directory_iterator(FDataDir)) LChecked.push_back(LEntry.path());
  for (const fs::path& LPath : LChecked) {
    if (fs::is_directory(fs::symlink_status(LPath))) {
      EXPECT_EQ(LModeOf(LPath), 0700u) << LPath;
    } else if (fs::is_regular_file(fs::symlink_status(LPath))) {
      EXPECT_EQ(LModeOf(LPath), 0600u) << LPath;
    }
  }
  // What the run made is among them.
  for (const char* LMade : {"Orvane/Tessra/AgentTasks", "server/reports.log", "results/Computer Scanner",
                            "taken-manual-jobs"})
    EXPECT_TRUE(fs::exists(FDataDir / LMade)) << LMade;
}

}  // namespace
}  // namespace Orvane::E2E
