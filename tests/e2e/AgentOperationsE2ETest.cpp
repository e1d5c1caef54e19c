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
  EXPECT_FALSE(LAgent.OutContains(CShutdownScanJobId)) << LAgent.Out();
  EXPECT_NE(ReadFile(FWorkDir / "systemctl.asked").find("is-system-running"), std::string::npos);
}

TEST_F(AgentOperationsE2ETest, SigtermWhileTheSystemGoesDownRunsTheShutdownJob) {
  TAgentProcess LAgent(FWorkDir, RunArguments(), "agent", UnderSystemd(FakeSystemctl("stopping")));
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGTERM);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains(std::string("done                   Computer Scanner at shutdown ") + CShutdownScanJobId))
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

}  // namespace
}  // namespace Orvane::E2E
