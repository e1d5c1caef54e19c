// The agent as a system service: how it takes signals, and SIGTERM under systemd, played without
// systemd. The test's own systemctl answers the state question the agent asks.

#include <sys/stat.h>

#include "AgentE2ESupport.h"

namespace Orvane::E2E {
namespace {

class AgentOperationsE2ETest : public AgentE2ETest {
protected:
  // A systemctl that answers is-system-running with AState and records that it was asked.
  fs::path FakeSystemctl(const std::string& AState) const {
    const fs::path LProgram = FWorkDir / "systemctl";
    WriteFile(LProgram, "#!/bin/sh\necho \"$@\" >> \"" + (FWorkDir / "systemctl.asked").string() +
                            "\"\necho " + AState + "\n");
    chmod(LProgram.c_str(), 0755);
    return LProgram;
  }

  std::vector<std::string> UnderSystemd(const fs::path& ASystemctl) const {
    return {"INVOCATION_ID=0123456789abcdef0123456789abcdef", "TESSRA_AGENT_SYSTEMCTL=" + ASystemctl.string()};
  }
};

TEST_F(AgentOperationsE2ETest, HangUpReloadsTheJobListAndOnlySigintOfTheRestEndsTheAgent) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId)));
  TAgentProcess LAgent(FWorkDir, RunArguments({"--jobs", LJobs.string()}));
  // The display text names the identifier too; the result follows the identifier.
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CManualJobId + " " + CManualJobId +
                                   "  succeeded"))
      << LAgent.Out() << LAgent.Err();
  EXPECT_TRUE(PollFor([&] {
    return ReadFile(ServerFile("reports.log")).find(std::string("finished ") + CManualExecutionId + " " +
                                                    CManualJobId + " succeeded") != std::string::npos;
  }));
  for (const int LSignal : {SIGUSR1, SIGUSR2, SIGPIPE}) LAgent.Signal(LSignal);
  // Nothing else reloads this list within the test: it has no settings watch.
  WriteFile(LJobs, JobListXml(ManualJobXml(CSecondManualJobId, CSecondExecutionId)));
  LAgent.Signal(SIGHUP);
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CSecondManualJobId))
      << LAgent.Out() << LAgent.Err();
  EXPECT_EQ(RunCommand(Ctl({"status"}), "status"), 0);
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

TEST_F(AgentOperationsE2ETest, UnitStopRunsNoShutdownJob) {
  TAgentProcess LAgent(FWorkDir, RunArguments(), "agent", UnderSystemd(FakeSystemctl("running")));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGTERM);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: stopped")) << LAgent.Out();
  EXPECT_FALSE(LAgent.OutContains(CShutdownComputerScanJobId)) << LAgent.Out();
  EXPECT_NE(ReadFile(FWorkDir / "systemctl.asked").find("is-system-running"), std::string::npos);
}

TEST_F(AgentOperationsE2ETest, SigtermWhileTheSystemGoesDownRunsTheShutdownJob) {
  TAgentProcess LAgent(FWorkDir, RunArguments(), "agent", UnderSystemd(FakeSystemctl("stopping")));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGTERM);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains(std::string("done                   Computer Scanner at shutdown ") + CShutdownComputerScanJobId))
      << LAgent.Out();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: shut down")) << LAgent.Out();
}

TEST_F(AgentOperationsE2ETest, SystemctlThatCannotBeRunCountsAsAPlainStop) {
  TAgentProcess LAgent(FWorkDir, RunArguments(), "agent", UnderSystemd(FWorkDir / "no-systemctl-here"));
  ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent running")) << LAgent.Err();
  LAgent.Signal(SIGTERM);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: stopped")) << LAgent.Out();
  EXPECT_NE(LAgent.Err().find("Cannot run " + (FWorkDir / "no-systemctl-here").string()), std::string::npos)
      << LAgent.Err();
}

TEST_F(AgentOperationsE2ETest, RestartThroughCtlRunsTheProgramNowInstalledUnderTheSamePath) {
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
  std::string LStatus;
  EXPECT_EQ(RunCommand(Ctl({"status"}), "status", &LStatus), 0);
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
}

}  // namespace
}  // namespace Orvane::E2E
