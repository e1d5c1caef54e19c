// The agent as a system service: how it takes signals, and SIGTERM under systemd, played without
// systemd. The test's own systemctl answers the state question the agent asks.

#include <sys/stat.h>

#include "AgentE2ESupport.h"

namespace Orvane::E2E {
namespace {

class AgentOperationsE2ETest : public AgentE2ETest {
protected:
  // A systemctl that answers is-system-running with AState.
  fs::path FakeSystemctl(const std::string& AState) const {
    const fs::path LProgram = FWorkDir / ("systemctl-" + AState);
    WriteFile(LProgram, "#!/bin/sh\necho " + AState + "\n");
    chmod(LProgram.c_str(), 0755);
    return LProgram;
  }

  std::vector<std::string> UnderSystemd(const fs::path& ASystemctl) const {
    return {"INVOCATION_ID=0123456789abcdef0123456789abcdef", "TESSRA_AGENT_SYSTEMCTL=" + ASystemctl.string()};
  }
};

TEST_F(AgentOperationsE2ETest, HangUpAndPullReloadTheJobListAndOnlySigintOfTheRestEndsTheAgent) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId)));
  // 5 minutes are 30 seconds here: no reload of the agent's own comes within the test.
  std::vector<std::string> LArgs = RunArguments({"--jobs", LJobs.string()});
  LArgs[4] = "10";
  TAgentProcess LAgent(FWorkDir, LArgs);
  // The display text names the identifier too; the result follows the identifier.
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CManualJobId + " " + CManualJobId +
                                   "  succeeded"))
      << LAgent.Out() << LAgent.Err();
  EXPECT_TRUE(PollFor([&] {
    return ReadFile(ServerFile("reports.log")).find(std::string("finished ") + CManualExecutionId + " " +
                                                    CManualJobId + " succeeded") != std::string::npos;
  }));
  for (const int LSignal : {SIGUSR1, SIGUSR2, SIGPIPE}) LAgent.Signal(LSignal);
  WriteFile(LJobs, JobListXml(ManualJobXml(CSecondManualJobId, CSecondExecutionId)));
  LAgent.Signal(SIGHUP);
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CSecondManualJobId))
      << LAgent.Out() << LAgent.Err();
  WriteFile(LJobs, JobListXml(ManualJobXml(CDelayedJobId, "")));
  ASSERT_EQ(RunCommand(Ctl({"pull"}), "pull"), 0);
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CDelayedJobId))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGINT);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: stopped")) << LAgent.Out();
  EXPECT_FALSE(fs::exists(FDataDir / "control.sock"));
}

TEST_F(AgentOperationsE2ETest, AScanThatAStopCutsShortIsShownAndReportedSo) {
  // The whole machine, /proc and /sys included: far more than a moment's work.
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(std::string("  <TJob><Identifier>") + CManualJobId +
                              "</Identifier><DisplayText>Whole disk</DisplayText><IsManual>true</IsManual>"
                              "<ItemKind>11</ItemKind><JobAction Class=\"TFileScannerJobAction\"><ExecutionId>" +
                              CManualExecutionId + "</ExecutionId><AgentTaskId>" + std::string(CFileScannerId) +
                              "</AgentTaskId><Paths><Item>/</Item></Paths></JobAction></TJob>\n"));
  TAgentProcess LAgent(FWorkDir, RunArguments({"--jobs", LJobs.string()}));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("handed to a processor  Whole disk ") + CManualJobId))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGINT);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains(std::string("done                   Whole disk ") + CManualJobId + "  cut short"))
      << LAgent.Out();
  EXPECT_NE(ReadFile(ServerFile("reports.log"))
                .find(std::string("finished ") + CManualExecutionId + " " + CManualJobId + " cut short"),
            std::string::npos)
      << ReadFile(ServerFile("reports.log"));
}

// SIGTERM is a system shutdown unless systemd says the system keeps running: only then, or when
// systemd cannot be asked, it is a plain stop without the shutdown job.
TEST_F(AgentOperationsE2ETest, SigtermRunsTheShutdownJobOnlyWhenTheSystemGoesDown) {
  struct TCase {
    const char* Tag;
    std::vector<std::string> Environment;
    bool Shutdown;
  };
  const fs::path LMissing = FWorkDir / "no-systemctl-here";
  const TCase LCases[] = {{"plain", {}, true},
                          {"stopping", UnderSystemd(FakeSystemctl("stopping")), true},
                          {"running", UnderSystemd(FakeSystemctl("running")), false},
                          {"unasked", UnderSystemd(LMissing), false}};
  for (const TCase& LCase : LCases) {
    SCOPED_TRACE(LCase.Tag);
    TAgentProcess LAgent(FWorkDir, RunArguments(), LCase.Tag, LCase.Environment);
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
        << LAgent.Out() << LAgent.Err();
    EXPECT_FALSE(LAgent.OutContains(CShutdownComputerScanJobId));
    LAgent.Signal(SIGTERM);
    ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
    const std::string LOut = LAgent.Out();
    const std::size_t LShutdownDone =
        LOut.find(std::string("done                   Computer Scanner at shutdown ") + CShutdownComputerScanJobId);
    if (LCase.Shutdown) {
      ASSERT_NE(LShutdownDone, std::string::npos) << LOut;
      EXPECT_LT(LShutdownDone, LOut.find("tessra-agent: shut down")) << LOut;
    } else {
      EXPECT_EQ(LShutdownDone, std::string::npos) << LOut;
      EXPECT_NE(LOut.find("tessra-agent: stopped"), std::string::npos) << LOut;
    }
  }
  EXPECT_NE(ReadFile(FWorkDir / "unasked.err").find("Cannot run " + LMissing.string()), std::string::npos);
}

TEST_F(AgentOperationsE2ETest, RestartThroughCtlRunsTheProgramNowInstalledUnderTheSamePathOnce) {
  // An installed copy of the program with its libraries, module and plug-in.
  const fs::path LInstalled = FWorkDir / "installed";
  const fs::path LBuilt = fs::path(TESSRA_AGENT_BINARY).parent_path();
  fs::create_directories(LInstalled);
  for (const char* LName : {"tessra-agent", "libOrvaneCore.so", "libOrvaneClientShared.so",
                            "libOrvaneJobServicesAgentTask.so"})
    fs::copy_file(LBuilt / LName, LInstalled / LName);
  fs::copy(LBuilt / "Plugins", LInstalled / "Plugins", fs::copy_options::recursive);
  const fs::path LProgram = LInstalled / "tessra-agent";

  std::vector<std::string> LArgs = RunArguments();
  TAgentProcess LAgent(FWorkDir, LArgs, "agent", {}, LProgram.string());
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();

  // An upgrade replaces the file under its name, as the package manager does: the new program
  // leaves a mark and then is the agent.
  const fs::path LOld = LInstalled / "tessra-agent.previous";
  fs::copy_file(LProgram, LOld);
  const fs::path LNew = LInstalled / "tessra-agent.new";
  WriteFile(LNew, "#!/bin/sh\necho \"$@\" > \"" + (FWorkDir / "upgraded").string() + "\"\nexec \"" +
                      LOld.string() + "\" \"$@\"\n");
  chmod(LNew.c_str(), 0755);
  fs::rename(LNew, LProgram);

  ASSERT_EQ(RunCommand(Ctl({"enqueue", "Restart Tessra agent"}), "restart"), 0);
  ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent: restarting")) << LAgent.Out() << LAgent.Err();
  // The new program ran with the same arguments, on the same data directory, and runs the jobs.
  ASSERT_TRUE(PollFor([&] { return fs::exists(FWorkDir / "upgraded"); })) << LAgent.Err();
  std::string LExpected;
  for (const std::string& LArg : LArgs) LExpected += (LExpected.empty() ? "" : " ") + LArg;
  EXPECT_EQ(ReadFile(FWorkDir / "upgraded"), LExpected + "\n");
  ASSERT_TRUE(PollFor([&] {
    const std::string LOut = LAgent.Out();
    return LOut.find(std::string("done                   Computer Scanner ") + CComputerScanJobId,
                     LOut.find("tessra-agent: restarting")) != std::string::npos;
  })) << LAgent.Out() << LAgent.Err();
  const std::string LOut = LAgent.Out();
  EXPECT_LT(LOut.find("done                   Restart Tessra agent"), LOut.find("stopped for an agent restart"));
  // The restart job ran once: the new agent does not restart again.
  EXPECT_EQ(LOut.find("handed to a processor  Restart Tessra agent", LOut.find("tessra-agent: restarting")),
            std::string::npos);
  // Nothing of the first agent is left open in the second beyond what it opens itself.
  std::size_t LDescriptors = 0;
  for ([[maybe_unused]] const auto& LEntry : fs::directory_iterator("/proc/" + std::to_string(LAgent.Pid()) + "/fd"))
    ++LDescriptors;
  EXPECT_LE(LDescriptors, 12u);
  EXPECT_EQ(RunCommand(Ctl({"status"}), "status"), 0);
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
}

}  // namespace
}  // namespace Orvane::E2E
