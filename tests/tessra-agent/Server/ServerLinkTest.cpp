#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <tuple>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Server/ClientCertificate.h"
#include "Server/ServerLink.h"
#include "tessra-agent/JobListMessages.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"
#include "Support/NginxServer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using TIds = std::vector<std::string>;
using Testing::AskForJobs;

std::string JobListXml(const TIds& AIds) {
  std::string LXml = "<?xml version=\"1.0\"?>\n<TJobList>";
  for (const std::string& LId : AIds) LXml += "<TJob><Identifier>" + LId + "</Identifier></TJob>";
  return LXml + "</TJobList>\n";
}

class ServerLinkTest : public ::testing::Test {
protected:
  std::unique_ptr<TServerLink> MakeLink(const Testing::TNginxServer& AServer) {
    FOutbox = std::make_shared<TOutbox>(FData.Path(), AServer.Url() + "clients/c1/", FHttp);
    TServerLinkOptions LOptions;
    LOptions.ServerUrl = AServer.Url();
    LOptions.ClientId = "c1";
    LOptions.DataDir = FData.Path();
    // The longest window a failure can open: a retry right after it is always inside.
    LOptions.Random = [] { return 0.99; };
    return std::make_unique<TServerLink>(LOptions, FHttp, FOutbox);
  }
  Testing::TLogCapture FLog;
  Testing::TTempDir FData;
  std::shared_ptr<THttpClient> FHttp = std::make_shared<THttpClient>(THttpClientOptions{"", "", "", true});
  std::shared_ptr<TOutbox> FOutbox;
};

TEST_F(ServerLinkTest, TheClientListElseTheFleetsUnchangedCostsNoParseAndABadOneKeepsTheLast) {
  Testing::TNginxServer LServer;
  LServer.WriteFile("fleet/jobs.xml", JobListXml({"F1"}));
  const auto LLink = MakeLink(LServer);
  EXPECT_EQ(AskForJobs(*LLink), std::make_tuple(0, TIds{"F1"}, TIds{}));
  EXPECT_EQ(AskForJobs(*LLink), std::make_tuple(0, TIds{"F1"}, TIds{}));
  EXPECT_EQ(LServer.CountRequests("GET /clients/c1/jobs.xml 404"), 2);
  EXPECT_EQ(LServer.WaitForRequests("GET /fleet/jobs.xml 304", 1), 1);
  // What ctl status shows: the second answer cost no parse.
  const std::string LStatus = LLink->StatusText();
  EXPECT_NE(LStatus.find("(1 answered 304, unchanged); job lists parsed: 1\n"), std::string::npos) << LStatus;
  EXPECT_NE(LStatus.find("last failure: none\n  outbox: 0 items"), std::string::npos) << LStatus;

  LServer.WriteFile("clients/c1/jobs.xml", JobListXml({"C1", "C2"}));
  EXPECT_EQ(AskForJobs(*LLink), std::make_tuple(0, TIds{"C1", "C2"}, TIds{}));
  LServer.WriteFile("clients/c1/jobs.xml", "<TJobList><TJob>");
  EXPECT_EQ(AskForJobs(*LLink), std::make_tuple(0, TIds{"C1", "C2"}, TIds{}));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Error, "is not a job list; the last good one stays"));
}

TEST_F(ServerLinkTest, CancelledIdsLeaveTheExistingOnesAndTheAbortedListAnswersTheStart) {
  Testing::TNginxServer LServer;
  LServer.WriteFile("clients/c1/jobs.xml", JobListXml({"C1"}));
  LServer.WriteFile("clients/c1/cancelled", "# gone\nm1\n\n M2 \n");
  LServer.WriteFile("clients/c1/aborted", "E1\n");
  const auto LLink = MakeLink(LServer);
  EXPECT_EQ(AskForJobs(*LLink, {"M1", "M2", "M3"}), std::make_tuple(0, TIds{"C1"}, TIds{"M3"}));

  EXPECT_TRUE(LLink->ReportJobStarted("e1", "J1", ""));
  EXPECT_FALSE(LLink->ReportJobStarted("E2", "J2", ""));
  LLink->ReportJobFinished("E2", "J2", TJobResult::jrSucceeded, "");
  // A job of this client's own has no execution id: nothing is asked or sent for it.
  EXPECT_FALSE(LLink->ReportJobStarted("", "J3", ""));
  EXPECT_EQ(LServer.WaitForRequests("GET /clients/c1/aborted", 1), 1);

  FOutbox->Start();
  EXPECT_TRUE(FOutbox->WaitUntilEmpty(Clock().DeadlineIn(20)));
  FOutbox->Stop();
  // The started and finished reports' content is the end-to-end server tests' case.
  EXPECT_NE(LServer.ReadFile("clients/c1/reports/e1.started.xml").find("<State>aborted</State>"),
            std::string::npos);
  EXPECT_EQ(LServer.WaitForRequests("PUT ", 3), 3);
}

TEST_F(ServerLinkTest, ASlowServerIsAnsweredFromTheLastListAndItsNewListAsksForAReload) {
  // About 3 s for the list: the answer does not wait for it.
  Testing::TNginxServer LServer({.ExtraServerConfig = "location = /clients/c1/jobs.xml { limit_rate 100; }"});
  LServer.WriteFile("clients/c1/jobs.xml", JobListXml({"C1"}) + "<!--" + std::string(200, '-') + "-->\n");
  const auto LLink = MakeLink(LServer);
  TWaitableEvent LReloaded(true, false);
  LLink->SetOnLateChange([&] { LReloaded.SetEvent(); });
  EXPECT_EQ(std::get<0>(AskForJobs(*LLink)), TServerLink::CNoJobList);
  EXPECT_NE(LLink->StatusText().find("fetches: 0"), std::string::npos) << "status never waits for a fetch";
  ASSERT_EQ(LReloaded.WaitFor(20000), TWaitResult::wrSignaled);
  EXPECT_EQ(std::get<1>(AskForJobs(*LLink)), TIds{"C1"});
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning, "the server is slow to answer"));
}

// The repository's example site: each client reads its own lists and the fleet's, and writes only
// below its own folder; nobody writes a job list through it.
TEST_F(ServerLinkTest, TheExampleSiteGivesEachClientItsOwnFolderOnly) {
  Testing::TTempDir LPkiDir;
  const Testing::TTestPki LPki = Testing::MakeTestPki(LPkiDir.Path(), "a");
  const auto [LCertB, LKeyB] = Testing::MakeTestClientCert(LPki, LPkiDir.Path(), "b");
  Testing::TNginxServer LServer(Testing::ExampleSiteOptions(LPki));
  for (const char* LFile : {"fleet/jobs.xml", "clients/a/jobs.xml", "clients/b/jobs.xml", "clients/b/cancelled"})
    LServer.WriteFile(LFile, JobListXml({"J"}));
  THttpClient LA({LPki.CaCert, LPki.ClientCert, LPki.ClientKey, false});
  const std::string U = LServer.Url();
  const std::vector<std::tuple<bool, std::string, int32_t>> LCases = {  // put?, path, status
      {false, "fleet/jobs.xml", 200}, {false, "clients/a/jobs.xml", 200}, {false, "clients/a/aborted", 404},
      {true, "clients/a/reports/E1.started.xml", 201}, {true, "clients/a/results/T1/R1.xml", 201},
      {false, "clients/b/jobs.xml", 403}, {false, "clients/b/cancelled", 403},
      {true, "clients/b/reports/E1.started.xml", 403}, {true, "fleet/jobs.xml", 403},
      {true, "clients/a/jobs.xml", 403}, {false, "clients/a/reports/E1.started.xml", 403},
      {false, "nginx.conf", 403}};
  for (const auto& [LPut, LPath, LStatus] : LCases)
    EXPECT_EQ((LPut ? LA.Put(U + LPath, "<x/>", "application/xml") : LA.Get(U + LPath)).Status, LStatus)
        << LPut << " " << LPath;
  THttpClient LB({LPki.CaCert, LCertB, LKeyB, false});
  EXPECT_EQ(LB.Get(U + "clients/b/jobs.xml").Status, 200);
  // Without a certificate nginx answers nothing of the site.
  EXPECT_EQ(THttpClient({LPki.CaCert, "", "", false}).Get(U + "fleet/jobs.xml").Status, 400);
}

// The id the agent would start with, or the text of the refusal that exits 2.
std::string StartingId(const std::string& AUrl, THttpClientOptions AHttp, const std::string& AClientId = "") {
  TServerLinkOptions LOptions;
  LOptions.ServerUrl = AUrl;
  LOptions.ClientId = AClientId;
  LOptions.Http = std::move(AHttp);
  try {
    return CheckServerLinkOptions(LOptions);
  } catch (const std::invalid_argument& E) {
    return std::string("refused: ") + E.what();
  }
}

TEST(ServerLinkOptionsTest, OptionsTheAgentMustNotStartWithAreRefusedAndTheCnIsTheClientId) {
  Testing::TTempDir LDir;
  const Testing::TTestPki LPki = Testing::MakeTestPki(LDir.Path(), "client-7");
  const std::string U = "https://server.example/";
  const auto LRefused = [](const std::string& AUrl, const THttpClientOptions& AHttp) {
    return StartingId(AUrl, AHttp).starts_with("refused: ");
  };
  EXPECT_FALSE(LRefused(U + "agents", {}));
  EXPECT_FALSE(LRefused("http://127.0.0.1:8080/", {"", "", "", true}));
  EXPECT_TRUE(LRefused("ftp://server.example/", {"", "", "", true}));
  EXPECT_TRUE(LRefused("https:///jobs", {}));
  EXPECT_TRUE(LRefused(U, {"", LPki.ClientCert, "", false}));
  EXPECT_TRUE(LRefused(U, {LDir.Path() + "/missing.pem", "", "", false}));

  const THttpClientOptions LMutual{LPki.CaCert, LPki.ClientCert, LPki.ClientKey};
  const std::string LDiffers = "refused: --client-id client-8 differs from the CN client-7 of the client certificate ";
  EXPECT_EQ(StartingId(U, LMutual), "client-7");
  EXPECT_EQ(StartingId(U, LMutual, "client-7"), "client-7");
  EXPECT_EQ(StartingId(U, LMutual, "client-8").substr(0, LDiffers.size()), LDiffers);
  const auto [LUpperCert, LUpperKey] = Testing::MakeTestClientCert(LPki, LDir.Path(), "Client-7");
  EXPECT_TRUE(StartingId(U, {LPki.CaCert, LUpperCert, LUpperKey}, "client-7").starts_with("refused: "));
  chmod(LPki.ClientKey.c_str(), 0640);
  EXPECT_TRUE(LRefused(U, LMutual));
}

// A certificate near its end is told of once a day; an ended one is an error.
TEST(ClientCertificateTest, ACertificateNearItsEndIsToldOnceADayAndAnEndedOneIsAnError) {
  Testing::TTempDir LDir;
  const Testing::TTestPki LPki = Testing::MakeTestPki(LDir.Path());
  const std::string LSoon = Testing::MakeTestClientCert(LPki, LDir.Path(), "soon", 3).first;
  Testing::TManualClockScope LClock(Now());
  Testing::TLogCapture LLog;
  TCertificateExpiryWatch(Testing::MakeTestClientCert(LPki, LDir.Path(), "later", 30).first).Check();
  TCertificateExpiryWatch LWatch(LSoon);
  LWatch.Check();
  LWatch.Check();
  EXPECT_EQ(LLog->Count(TLogEntryKind::Warning), 1);
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Warning, LSoon + " expires on "));
  Clock().AdvanceSeconds(CSecondsPerDay + 1);
  LWatch.Check();
  EXPECT_EQ(LLog->Count(TLogEntryKind::Warning), 2);
  Clock().AdvanceSeconds(3 * CSecondsPerDay);
  LWatch.Check();
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Error, LSoon + " expired on "));
  EXPECT_EQ(LLog->Count(TLogEntryKind::Warning), 2);
}

}  // namespace
}  // namespace Orvane
