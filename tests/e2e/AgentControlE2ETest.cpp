// tessra-agent ctl against the running agent: work asked for through the control socket, the
// status it shows and the exit codes.

#include <cstring>

#include "AgentE2ESupport.h"

namespace Orvane::E2E {
namespace {

const std::string CComputerScannerTaskId(CComputerScannerId);

class AgentControlE2ETest : public AgentE2ETest {
protected:
  // The due time that status shows for the manual job of the task, "" when it shows none.
  static std::string ManualDueTime(const std::string& AStatus, const std::string& ATaskId) {
    std::istringstream LLines(AStatus);
    for (std::string LLine; std::getline(LLines, LLine);) {
      if (LLine.rfind("  manual ", 0) != 0 || LLine.find(ATaskId) == std::string::npos) continue;
      return LLine.substr(std::strlen("  manual     "), 23);
    }
    return "";
  }
};

TEST_F(AgentControlE2ETest, ExitCodesTellNoAgentASecondAgentUnknownTaskAndStop) {
  std::string LErr;
  EXPECT_EQ(RunCommand(Ctl({"status"}), "none", nullptr, &LErr), 1);
  EXPECT_NE(LErr.find("no tessra-agent is running on the data directory " + FDataDir.string()), std::string::npos)
      << LErr;

  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent running")) << LAgent.Err();
  ASSERT_TRUE(PollFor([&] { return fs::exists(FDataDir / "control.sock"); }));
  EXPECT_EQ(RunCommand(Ctl({"enqueue", "no such task"}), "unknown", nullptr, &LErr), 2);
  EXPECT_NE(LErr.find("no agent task is called \"no such task\""), std::string::npos) << LErr;
  EXPECT_EQ(RunCommand(Ctl({"enqueue"}), "usage"), 2);
  EXPECT_EQ(RunCommand(RunArguments(), "second", nullptr, &LErr), 2);
  EXPECT_NE(LErr.find("Another tessra-agent is already running"), std::string::npos) << LErr;

  EXPECT_EQ(RunCommand(Ctl({"stop"}), "stop"), 0);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_TRUE(LAgent.OutContains("tessra-agent: stopped"));
  EXPECT_FALSE(fs::exists(FDataDir / "control.sock"));
}

TEST_F(AgentControlE2ETest, EnqueuedTaskRunsAtOnceAndStatusShowsTheLists) {
  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScanJobId))
      << LAgent.Out() << LAgent.Err();

  // By name, letter case aside; the agent is waiting for its next turn.
  std::string LOut;
  ASSERT_EQ(RunCommand(Ctl({"enqueue", "COMPUTER scanner"}), "enqueue", &LOut), 0);
  EXPECT_NE(LOut.find("is enqueued"), std::string::npos) << LOut;
  EXPECT_TRUE(PollFor([&] { return LAgent.OutContains(std::string("done                   Computer Scanner ") +
                                                      CComputerScannerTaskId); },
                      5.0))
      << LAgent.Out();

  ASSERT_EQ(RunCommand(Ctl({"status"}), "status", &LOut), 0);
  EXPECT_NE(LOut.find("Queue: "), std::string::npos) << LOut;
  EXPECT_NE(LOut.find("Running: "), std::string::npos) << LOut;
  EXPECT_NE(LOut.find("Job list: "), std::string::npos) << LOut;
  // The built-in jobs with their next start; the shutdown scan has none.
  const std::size_t LRow = LOut.find(std::string("Computer Scanner  ") + CComputerScanJobId);
  ASSERT_NE(LRow, std::string::npos) << LOut;
  const std::string LLine = LOut.substr(LOut.rfind('\n', LRow) + 1, LRow - LOut.rfind('\n', LRow));
  EXPECT_NE(LLine.find("automatic  2"), std::string::npos) << LLine;
  EXPECT_NE(LOut.find(CShutdownComputerScanJobId), std::string::npos) << LOut;

  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0);
}

TEST_F(AgentControlE2ETest, DelayedManualJobSurvivesARestartWithItsDueTimeAndThenRuns) {
  std::string LDue;
  {
    TAgentProcess LAgent(FWorkDir, RunArguments(), "run1");
    ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent running")) << LAgent.Err();
    ASSERT_TRUE(PollFor([&] { return fs::exists(FDataDir / "control.sock"); }));
    // 10 minutes are 10 seconds here.
    ASSERT_EQ(RunCommand(Ctl({"enqueue", CComputerScannerTaskId, "--delay-minutes", "10"}), "enqueue"), 0);
    std::string LStatus;
    ASSERT_EQ(RunCommand(Ctl({"status"}), "status1", &LStatus), 0);
    LDue = ManualDueTime(LStatus, CComputerScannerTaskId);
    ASSERT_FALSE(LDue.empty()) << LStatus;
    ASSERT_NE(LDue[0], '-') << LStatus;
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0);
    EXPECT_FALSE(LAgent.OutContains(std::string("handed to a processor  Computer Scanner ") + CComputerScannerTaskId));
  }
  TAgentProcess LAgain(FWorkDir, RunArguments(), "run2");
  ASSERT_TRUE(LAgain.WaitForOutput("tessra-agent running")) << LAgain.Err();
  ASSERT_TRUE(PollFor([&] { return fs::exists(FDataDir / "control.sock"); }));
  std::string LStatus;
  ASSERT_EQ(RunCommand(Ctl({"status"}), "status2", &LStatus), 0);
  EXPECT_EQ(ManualDueTime(LStatus, CComputerScannerTaskId), LDue) << LStatus;
  EXPECT_TRUE(LAgain.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScannerTaskId))
      << LAgain.Out();
  LAgain.Signal(SIGINT);
  EXPECT_EQ(LAgain.WaitForExit(), 0);
}

}  // namespace
}  // namespace Orvane::E2E
