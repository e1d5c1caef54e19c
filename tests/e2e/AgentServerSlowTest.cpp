#include <algorithm>
#include <memory>

#include "AgentE2ESupport.h"
#include "Support/NginxServer.h"

namespace Orvane::E2E {
namespace {

std::size_t FilesIn(const fs::path& AFolder) {
  std::size_t LFiles = 0;
  std::error_code LError;
  for (const auto& LEntry : fs::directory_iterator(AFolder, LError)) LFiles += LEntry.is_regular_file();
  return LFiles;
}

// The arguments of an agent that is client "e2e" of AServer, over mutual TLS with APki's certificates.
std::vector<std::string> ServerArguments(const Testing::TNginxServer& AServer, const Testing::TTestPki& APki) {
  return {"--server", AServer.Url(),     "--ca-file",    APki.CaCert, "--client-cert",
          APki.ClientCert, "--client-key", APki.ClientKey, "--client-id", "e2e"};
}

// The agent managed from the repository's example site over mutual TLS: the client's job list hands
// out a manual job, which runs once; its start and finish reports arrive on the server, and a stop
// ends the agent cleanly.
TEST_F(AgentE2ETest, AManualJobFromTheServerRunsOnceAndItsReportsArrive) {
  const Testing::TTestPki LPki = Testing::MakeTestPki(FWorkDir.string(), "e2e");
  Testing::TNginxServer LServer(Testing::ExampleSiteOptions(LPki));
  LServer.WriteFile("clients/e2e/jobs.xml", JobListXml(ManualJobXml(CManualJobId, CManualExecutionId)));
  const std::string LReports = "clients/e2e/reports/" + std::string(CManualExecutionId);
  {
    TAgentProcess LAgent(FWorkDir, RunArguments(ServerArguments(LServer, LPki)), "run1");
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
  TAgentProcess LAgain(FWorkDir, TraceRunArguments(ServerArguments(LServer, LPki)), "run2");
  ASSERT_TRUE(WaitForFirstTurn(LAgain)) << LAgain.Err();
  LAgain.Signal(SIGINT);
  ASSERT_EQ(LAgain.WaitForExit(), 0);
  EXPECT_FALSE(LAgain.OutContains(CManualJobId)) << LAgain.Out();
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/e2e/reports/", 2), 2) << LServer.AccessLog();
}

// Whatever the server answers, the agent holds its last good list, and ctl status answers at once
// (within 2 s, its time-out here) and names the failure.
TEST_F(AgentE2ETest, BadAnswersLeaveTheLastGoodListRunningAndStatusAnswering) {
  const Testing::TTestPki LPki = Testing::MakeTestPki(FWorkDir.string(), "e2e");
  fs::create_directories(FWorkDir / "other");
  const Testing::TTestPki LOtherPki = Testing::MakeTestPki((FWorkDir / "other").string(), "e2e");
  const std::string LList = JobListXml(SettingsWatchXml());
  const std::string LWatchDone = "done                   Settings watch";
  {
    Testing::TNginxServer LServer(Testing::ExampleSiteOptions(LPki));
    LServer.WriteFile("clients/e2e/jobs.xml", LList);
    TAgentProcess LAgent(FWorkDir, RunArguments(ServerArguments(LServer, LPki)), "good");
    ASSERT_TRUE(LAgent.WaitForOutput(LWatchDone)) << LAgent.Out() << LAgent.Err();
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0);
  }
  struct TCase {
    const char* Name;
    std::string Location;  // how /clients/e2e/jobs.xml is answered
    const char* Failure;   // what ctl status says of it
    bool Untrusted = false;
    bool Down = false;
  };
  const std::string LJobs = "location = /clients/e2e/jobs.xml ";
  const std::vector<TCase> LCases = {
      {"500", LJobs + "{ return 500; }", "answered 500"},
      {"malformed", LJobs + "{ return 200 '<TJobList><TJob>'; }", "not a job list"},
      {"html", LJobs + "{ default_type text/html; return 200 '<html>Sign in</html>'; }", "content type \"text/html\""},
      {"redirect loop", LJobs + "{ return 302 /clients/e2e/jobs.xml; }", "edirect"},
      {"stalled", LJobs + "{ limit_rate 1; }", "jobs.xml: "},
      {"untrusted certificate", "", "jobs.xml: ", true},
      {"down", "", "jobs.xml: ", false, true},
  };
  for (const TCase& LCase : LCases) {
    SCOPED_TRACE(LCase.Name);
    Testing::TNginxOptions LOptions = Testing::ExampleSiteOptions(LCase.Untrusted ? LOtherPki : LPki);
    LOptions.ExtraServerConfig = LCase.Location + "\n" + LOptions.ExtraServerConfig;
    auto LServer = std::make_unique<Testing::TNginxServer>(LOptions);
    LServer->WriteFile("clients/e2e/jobs.xml", LList);
    const std::vector<std::string> LArgs = RunArguments(ServerArguments(*LServer, LPki));
    if (LCase.Down) LServer.reset();
    TAgentProcess LAgent(FWorkDir, LArgs, LCase.Name);
    std::string LStatus;
    const auto LAnswers = [&] { return RunCommand(Ctl({"--timeout", "2", "status"}), "status", &LStatus) == 0; };
    // Up, and then answering every time, also while a stalled fetch is in flight.
    ASSERT_TRUE(PollFor(LAnswers)) << LAgent.Err();
    for (int I = 0; I < 3; ++I) EXPECT_TRUE(LAnswers()) << LStatus;
    EXPECT_TRUE(PollFor([&] {
      return LAnswers() && LStatus.find(LCase.Failure) != std::string::npos &&
             LStatus.find("last failure: none") == std::string::npos;
    }, 40)) << LStatus;
    // The kept list is held (its watch ran in the first case; a clock started anew has not reached
    // its next run).
    EXPECT_NE(LStatus.find("automatic  "), std::string::npos) << LStatus;
    LAgent.Signal(SIGINT);
    EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  }
}

// The server's report folder failing for a while, and the agent restarted meanwhile: every report
// arrives once the server takes them again, one document each, and the outbox is empty.
TEST_F(AgentE2ETest, ReportsHeldWhileTheServerFailsArriveAfterARestart) {
  const Testing::TTestPki LPki = Testing::MakeTestPki(FWorkDir.string(), "e2e");
  const std::string LList = JobListXml(ManualJobXml(CManualJobId, CManualExecutionId) +
                                       ManualJobXml(CSecondManualJobId, CSecondExecutionId));
  {
    Testing::TNginxOptions LFailing = Testing::ExampleSiteOptions(LPki);
    LFailing.ExtraServerConfig = "location ^~ /clients/e2e/reports/ { return 503; }\n" + LFailing.ExtraServerConfig;
    Testing::TNginxServer LServer(LFailing);
    LServer.WriteFile("clients/e2e/jobs.xml", LList);
    TAgentProcess LAgent(FWorkDir, RunArguments(ServerArguments(LServer, LPki)), "failing");
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CSecondManualJobId))
        << LAgent.Out();
    ASSERT_TRUE(LAgent.WaitForOutput(std::string("done                   Manual scan ") + CManualJobId));
    EXPECT_GE(LServer.WaitForRequests("PUT /clients/e2e/reports/", 1), 1);
    LAgent.Signal(SIGINT);
    ASSERT_EQ(LAgent.WaitForExit(), 0);
    EXPECT_GT(FilesIn(FDataDir / "outbox"), 0u) << "the reports wait on disk";
  }
  Testing::TNginxServer LServer(Testing::ExampleSiteOptions(LPki));
  LServer.WriteFile("clients/e2e/jobs.xml", LList);
  TAgentProcess LAgent(FWorkDir, RunArguments(ServerArguments(LServer, LPki)), "healthy");
  const std::string LFolder = "clients/e2e/reports/";
  const std::vector<std::string> LReports = {
      LFolder + CManualExecutionId + ".started.xml", LFolder + CManualExecutionId + ".finished.xml",
      LFolder + CSecondExecutionId + ".started.xml", LFolder + CSecondExecutionId + ".finished.xml"};
  EXPECT_TRUE(PollFor([&] {
    return std::all_of(LReports.begin(), LReports.end(), [&](const std::string& A) { return LServer.Exists(A); });
  })) << LServer.AccessLog();
  EXPECT_TRUE(PollFor([&] { return FilesIn(FDataDir / "outbox") == 0; }));
  LAgent.Signal(SIGINT);
  ASSERT_EQ(LAgent.WaitForExit(), 0);
  // Neither job ran again, and each report is one document.
  EXPECT_FALSE(LAgent.OutContains("Manual scan")) << LAgent.Out();
  EXPECT_EQ(FilesIn(fs::path(LServer.Root()) / LFolder), LReports.size());
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
