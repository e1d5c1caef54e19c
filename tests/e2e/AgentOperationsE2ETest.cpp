// The agent as a system service: how it takes SIGTERM under systemd, played without systemd. The
// test's own systemctl answers the state question the agent asks.

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
