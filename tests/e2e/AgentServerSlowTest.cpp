#include "AgentE2ESupport.h"
#include "Support/NginxServer.h"

namespace Orvane::E2E {
namespace {

// The agent managed from a web server: the client's job list hands out a manual job, which runs
// once; its start and finish reports arrive on the server, and a stop ends the agent cleanly.
TEST_F(AgentE2ETest, AManualJobFromTheServerRunsOnceAndItsReportsArrive) {
  Testing::TNginxServer LServer;
  LServer.WriteFile("clients/e2e/jobs.xml", JobListXml(ManualJobXml(CManualJobId, CManualExecutionId)));
  const std::string LReports = "clients/e2e/reports/" + std::string(CManualExecutionId);
  const std::vector<std::string> LArgs =
      RunArguments({"--server", LServer.Url(), "--allow-insecure-http", "--client-id", "e2e"});
  {
    TAgentProcess LAgent(FWorkDir, LArgs, "run1");
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CManualJobId))
        << LAgent.Out() << LAgent.Err();
    EXPECT_TRUE(LAgent.OutContains("server " + LServer.Url()));
    EXPECT_TRUE(PollFor([&] { return LServer.Exists(LReports + ".finished.xml"); })) << LServer.AccessLog();
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  }
  EXPECT_NE(LServer.ReadFile(LReports + ".started.xml").find("<State>started</State>"), std::string::npos);
  EXPECT_NE(LServer.ReadFile(LReports + ".finished.xml").find("<State>finished</State>"), std::string::npos);

  // A new start: the job was taken and does not run again.
  TAgentProcess LAgain(FWorkDir, TraceRunArguments({"--server", LServer.Url(), "--allow-insecure-http",
                                                    "--client-id", "e2e"}),
                       "run2");
  ASSERT_TRUE(WaitForFirstTurn(LAgain)) << LAgain.Err();
  LAgain.Signal(SIGINT);
  ASSERT_EQ(LAgain.WaitForExit(), 0);
  EXPECT_FALSE(LAgain.OutContains(CManualJobId)) << LAgain.Out();
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/e2e/reports/", 2), 2) << LServer.AccessLog();
}

TEST_F(AgentE2ETest, ServerOptionsTheAgentCannotRunWithExitWithCode2) {
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(""));
  std::string LErr;
  EXPECT_EQ(RunCommand(RunArguments({"--server", "https://server.example/", "--jobs", LJobs.string()}), "jobs",
                       nullptr, &LErr),
            2);
  EXPECT_EQ(RunCommand(RunArguments({"--server", "http://server.example/"}), "http", nullptr, &LErr), 2);
  EXPECT_NE(LErr.find("--allow-insecure-http"), std::string::npos) << LErr;
  EXPECT_FALSE(fs::exists(FDataDir)) << "nothing is made before the options are checked";
}

}  // namespace
}  // namespace Orvane::E2E
