// tessra-agent ctl against the running agent: work asked for through the control socket, the
// status it shows, the exit codes, and clients that misbehave.

#include <sys/socket.h>
#include <sys/un.h>

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

  // A connection to the agent's control socket that the test drives by hand; -1 when none.
  int Connect() const {
    const int LSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un LAddress{};
    LAddress.sun_family = AF_UNIX;
    const std::string LPath = (FDataDir / "control.sock").string();
    std::strncpy(LAddress.sun_path, LPath.c_str(), sizeof(LAddress.sun_path) - 1);
    if (connect(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) != 0) {
      close(LSocket);
      return -1;
    }
    return LSocket;
  }
};

TEST_F(AgentControlE2ETest, ExitCodesTellNoAgentUnknownTaskAndStop) {
  std::string LErr;
  EXPECT_EQ(RunCommand(Ctl({"status"}), "none", nullptr, &LErr), 1);
  EXPECT_NE(LErr.find("no tessra-agent is running on the data directory " + FDataDir.string()), std::string::npos)
      << LErr;

  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent running")) << LAgent.Err();
  ASSERT_TRUE(PollFor([&] { return fs::exists(FDataDir / "control.sock"); }));
  EXPECT_EQ(fs::status(FDataDir / "control.sock").permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(RunCommand(Ctl({"enqueue", "no such task"}), "unknown", nullptr, &LErr), 2);
  EXPECT_NE(LErr.find("no agent task is called \"no such task\""), std::string::npos) << LErr;
  EXPECT_EQ(RunCommand(Ctl({"enqueue"}), "usage"), 2);

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

TEST_F(AgentControlE2ETest, PullMakesTheNextTurnReloadAChangedJobsFile) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(SettingsWatchXml()));
  // 5 minutes of the settings watch are 30 seconds here: no reload of its own during the test.
  std::vector<std::string> LArgs = RunArguments({"--jobs", LJobs.string()});
  LArgs[4] = "10";
  TAgentProcess LAgent(FWorkDir, LArgs);
  ASSERT_TRUE(LAgent.WaitForOutput("done                   Settings watch")) << LAgent.Out() << LAgent.Err();

  WriteFile(LJobs, JobListXml(ManualJobXml(CManualJobId, CManualExecutionId) + SettingsWatchXml()));
  ASSERT_EQ(RunCommand(Ctl({"pull"}), "pull"), 0);
  EXPECT_TRUE(PollFor([&] { return LAgent.OutContains(std::string("done                   Manual scan ") + CManualJobId); },
                      10.0))
      << LAgent.Out() << LAgent.Err();
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0);
}

TEST_F(AgentControlE2ETest, SilentFloodingAndManyClientsNeverHoldTheAgentUp) {
  TAgentProcess LAgent(FWorkDir, RunArguments());
  ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent running")) << LAgent.Err();
  ASSERT_TRUE(PollFor([&] { return fs::exists(FDataDir / "control.sock"); }));

  const int LSilent = Connect();
  ASSERT_GE(LSilent, 0);
  const int LFlooder = Connect();
  ASSERT_GE(LFlooder, 0);
  const std::string LGarbage(1024 * 1024, 'x');
  std::size_t LSent = 0;
  // The agent stops reading once the request is too long; what it does not take is not waited for.
  while (LSent < LGarbage.size()) {
    const ssize_t LWritten = send(LFlooder, LGarbage.data() + LSent, LGarbage.size() - LSent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (LWritten <= 0) break;
    LSent += static_cast<std::size_t>(LWritten);
  }

  std::vector<std::unique_ptr<TAgentProcess>> LClients;
  for (int I = 0; I < 50; ++I)
    LClients.push_back(std::make_unique<TAgentProcess>(FWorkDir, Ctl({"status"}), "client" + std::to_string(I)));
  for (auto& LClient : LClients) {
    EXPECT_EQ(LClient->WaitForExit(), 0) << LClient->Err();
    EXPECT_TRUE(LClient->OutContains("Job list: ")) << LClient->Out();
  }

  // And the agent still runs what it is asked to.
  ASSERT_EQ(RunCommand(Ctl({"enqueue", "computer scanner"}), "enqueue"), 0);
  EXPECT_TRUE(LAgent.WaitForOutput(std::string("done                   Computer Scanner ") + CComputerScannerTaskId))
      << LAgent.Out();
  close(LSilent);
  close(LFlooder);
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0);
}

}  // namespace
}  // namespace Orvane::E2E
