// The agent's link to its management server, against Debian's nginx: the HTTP client, the outbox
// that delivers reports and results, and the link that fetches job lists and reports runs.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <tuple>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Platform/SafeFiles.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Server/ClientCertificate.h"
#include "Server/HttpClient.h"
#include "Server/Outbox.h"
#include "Server/ResultUploader.h"
#include "Server/ServerLink.h"
#include "Support/ClockScope.h"
#include "Support/EnvScope.h"
#include "Support/FileText.h"
#include "Support/LogCapture.h"
#include "Support/NginxServer.h"
#include "Support/RunConcurrently.h"
#include "Support/TempDir.h"
#include "tessra-agent/JobListMessages.h"

namespace Orvane {
namespace {

using Testing::AskForJobs, Testing::TNginxServer;
using TIds = std::vector<std::string>;
using TKind = TOutbox::TKind;
using THttpKind = THttpResult::TKind;

class HttpClientTest : public ::testing::Test {
protected:
  THttpClientOptions Trusting() const { return {FPki.CaCert, "", ""}; }

  Testing::TTempDir FPkiDir{"orvane-pki"};
  const Testing::TTestPki FPki = Testing::MakeTestPki(FPkiDir.Path(), "client-7");
};

TEST_F(HttpClientTest, FollowsThreeRedirectsButNotAFourthNorDownToHttp) {
  TNginxServer LPlain;
  LPlain.WriteFile("doc", "plain");
  TNginxServer LServer(
      {.Pki = &FPki,
       .ExtraServerConfig = "absolute_redirect off; location = /r0 { return 302 /r1; }\n"
                            "location = /r1 { return 301 /r2; } location = /r2 { return 307 /r3; }\n"
                            "location = /r3 { return 308 /doc; } location = /down { return 302 " +
                            LPlain.Url() + "doc; }\n"});
  LServer.WriteFile("doc", "secure");

  THttpClient LClient(Trusting());
  EXPECT_EQ("secure", LClient.Get(LServer.Url() + "r1").Body);
  EXPECT_EQ(THttpKind::Refused, LClient.Get(LServer.Url() + "r0").Kind);
  EXPECT_EQ(THttpKind::Refused, LClient.Get(LServer.Url() + "down").Kind);
  // A test client that may speak http follows it: the plain server sees that request alone.
  EXPECT_EQ(THttpKind::Response, THttpClient({FPki.CaCert, "", "", true}).Get(LServer.Url() + "down").Kind);
  EXPECT_EQ(1, LPlain.WaitForRequests("GET /doc", 1));
}

TEST_F(HttpClientTest, RefusesADocumentOverTheLimitWithOrWithoutItsLength) {
  // Server-side includes drop the Content-Length: those documents arrive chunked.
  TNginxServer LServer({.ExtraServerConfig = "location /chunked/ { ssi on; ssi_types *; }",
                        .ExtraLogFields = "encoding=$sent_http_transfer_encoding"});
  for (const auto& [LPath, LSize] : {std::pair("big", THttpClient::CMaxDocumentBytes + 1),
                                     std::pair("chunked/big", THttpClient::CMaxDocumentBytes + 1),
                                     std::pair("chunked/full", THttpClient::CMaxDocumentBytes)}) {
    LServer.WriteFile(LPath, "");  // sparse
    std::filesystem::resize_file(LServer.Root() + "/" + LPath, LSize);
  }

  THttpClient LClient({"", "", "", true});
  for (const char* LPath : {"big", "chunked/big"}) {
    const THttpResult L = LClient.Get(LServer.Url() + LPath);
    EXPECT_EQ(THttpKind::Refused, L.Kind) << LPath << ": " << L.Error;
    EXPECT_TRUE(L.Body.empty()) << LPath;
  }
  EXPECT_EQ(THttpClient::CMaxDocumentBytes, LClient.Get(LServer.Url() + "chunked/full").Body.size());
  EXPECT_EQ(2, LServer.WaitForRequests("encoding=chunked", 2)) << LServer.AccessLog();
}

TEST_F(HttpClientTest, TunnelsThroughTheProxyOfTheEnvironment) {
  TNginxServer LServer({.Pki = &FPki});
  LServer.WriteFile("a", "through");
  Testing::TTinyproxy LProxy;
  Testing::TEnvScope LNoProxy("no_proxy", nullptr), LNoProxyUpper("NO_PROXY", nullptr),
      LUpper("HTTPS_PROXY", nullptr);
  {
    Testing::TEnvScope LVia("https_proxy", LProxy.Url().c_str());
    const THttpResult L = THttpClient(Trusting()).Get(LServer.Url() + "a");
    ASSERT_TRUE(L.Ok()) << L.Error;
    EXPECT_EQ("through", L.Body);
    EXPECT_NE(std::string::npos, LProxy.Log().find("CONNECT")) << LProxy.Log();
  }
  // With the proxy gone from the environment the same handle goes direct again.
  THttpClient LClient(Trusting());
  {
    Testing::TEnvScope LVia("https_proxy", "http://127.0.0.1:1");
    EXPECT_EQ(THttpKind::NetworkError, LClient.Get(LServer.Url() + "a").Kind);
  }
  EXPECT_TRUE(LClient.Get(LServer.Url() + "a").Ok());
}

TEST(HttpResultTest, TransientAreNoAnswerServerErrorsTimeoutAndTooManyRequests) {
  using TCase = std::tuple<THttpKind, int32_t, bool>;  // kind, status, transient
  const TCase LCases[] = {{THttpKind::NetworkError, 0, true}, {THttpKind::Refused, 0, false},
                          {THttpKind::Response, 503, true},   {THttpKind::Response, 408, true},
                          {THttpKind::Response, 429, true},   {THttpKind::Response, 400, false},
                          {THttpKind::Response, 404, false},  {THttpKind::Response, 304, false},
                          {THttpKind::Response, 200, false}};
  for (const auto& [LKind, LStatus, LTransient] : LCases) {
    THttpResult L;
    L.Kind = LKind;
    L.Status = LStatus;
    EXPECT_EQ(LTransient, L.Transient()) << static_cast<int>(LKind) << " " << LStatus;
  }
}

TEST(UrlPathSegmentTest, KeepsUnreservedCharactersAndEncodesTheRest) {
  EXPECT_EQ("aZ09-._~", UrlPathSegment("aZ09-._~"));
  EXPECT_EQ("a%2Fb%20c%25%3F%23%2B", UrlPathSegment("a/b c%?#+"));
  EXPECT_EQ("%C3%A4%00%FF", UrlPathSegment(std::string_view("\xC3\xA4\0\xFF", 4)));
}

std::string Gunzip(const std::string& APath) {
  const gzFile LFile = gzopen(APath.c_str(), "rb");
  std::string LOut(8 << 20, '\0');  // far more than the test's document
  LOut.resize(
      static_cast<std::size_t>(std::max(0, gzread(LFile, LOut.data(), static_cast<unsigned>(LOut.size())))));
  EXPECT_EQ(gzdirect(LFile), 0) << APath << " is not gzip";
  gzclose(LFile);
  return LOut;
}

class OutboxTest : public ::testing::Test {
protected:
  std::unique_ptr<TOutbox> MakeOutbox(const TNginxServer& AServer, TOutboxSettings ASettings = {}) {
    // Retries come quickly: a test sees several within a moment.
    ASettings.FirstRetrySeconds = 0.02;
    ASettings.MaxRetrySeconds = 0.05;
    return std::make_unique<TOutbox>(FData.Path(), AServer.Url() + "clients/c1/", FHttp,
                                     std::move(ASettings));
  }

  Testing::TTempDir FData;
  std::shared_ptr<THttpClient> FHttp = std::make_shared<THttpClient>(THttpClientOptions{"", "", "", true});
};

TEST_F(OutboxTest, DeliveredItemsGoARefusedOneIsSetAsideAndAFailingOneHoldsUpTheRest) {
  TNginxServer LServer({.ExtraServerConfig = "location /clients/c1/denied { return 403; }\n"
                                             "location /clients/c1/busy { return 503; }"});
  {
    const auto LOutbox = MakeOutbox(LServer, {.MaxFailedItems = 1, .Random = {}});
    ASSERT_TRUE(LOutbox->Add(TKind::Report, "denied/a.xml", "<a/>", "application/xml"));
    ASSERT_TRUE(LOutbox->Add(TKind::Report, "denied/a2.xml", "<a2/>", "application/xml"));
    ASSERT_TRUE(LOutbox->Add(TKind::Result, "results/b.xml.gz", "gzipped", "application/xml", "gzip"));
    ASSERT_TRUE(LOutbox->Add(TKind::Report, "busy/c.xml", "<c/>", "application/xml"));
    ASSERT_TRUE(LOutbox->Add(TKind::Report, "reports/d.xml", "<d/>", "application/xml"));
    EXPECT_FALSE(LOutbox->Add(TKind::Report, "../elsewhere.xml", "<e/>", "application/xml"));
    LOutbox->Start();
    EXPECT_GE(LServer.WaitForRequests("PUT /clients/c1/busy/c.xml 503", 3), 3);
    LOutbox->Stop(0);
    EXPECT_EQ(LOutbox->ItemCount(), 2);
  }
  EXPECT_EQ(LServer.ReadFile("clients/c1/results/b.xml.gz"), "gzipped");
  // Only the newest refused item is kept, whole.
  EXPECT_EQ(Testing::DirectoryEntries(FData.Path() + "/outbox/failed"),
            std::vector<std::string>{"00000000000000000002.report"});
  EXPECT_EQ(Testing::ReadFile(FData.Path() + "/outbox/failed/00000000000000000002.report"),
            "Path: denied/a2.xml\nContent-Type: application/xml\n\n<a2/>");
  // Oldest first: what waits behind the failing item is not sent around it.
  EXPECT_EQ(LServer.CountRequests("reports/d.xml"), 0);
}

TEST_F(OutboxTest, AFullOutboxPushesOutResultsOldestFirstButNeverAReport) {
  TNginxServer LServer;
  const auto LOutbox = MakeOutbox(LServer, {.MaxItems = 3, .MaxBytes = 1000, .Random = {}});
  // r2 pushes out s1, s3 s2, r3 s3; then only reports are left.
  for (const std::string LName : {"r1", "s1", "s2", "r2", "s3", "r3"})
    EXPECT_TRUE(LOutbox->Add(LName[0] == 'r' ? TKind::Report : TKind::Result, LName, LName, "text/plain"))
        << LName;
  EXPECT_FALSE(LOutbox->Add(TKind::Result, "s4", "s4", "text/plain"));
  EXPECT_FALSE(LOutbox->Add(TKind::Report, "r4", "r4", "text/plain"));
  EXPECT_FALSE(LOutbox->Add(TKind::Report, "big", std::string(1000, 'x'), "text/plain"));
  LOutbox->Start();
  EXPECT_TRUE(LOutbox->WaitUntilEmpty(Clock().DeadlineIn(20)));
  LOutbox->Stop();
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/c1/r", 3), 3);
  EXPECT_EQ(LServer.CountRequests("PUT /clients/c1/s"), 0);
}

// The result's folder is redirected (307): the body, read from the item's file as it goes, is sent
// again from its start.
TEST_F(OutboxTest, AResultArrivesGzippedAsItsLocalBytesAndASecondSendReplacesIt) {
  TNginxServer LServer(
      {.ExtraServerConfig =
           "absolute_redirect off; location ~ ^/clients/c1/results/(.*)$ { return 307 /moved/$1; }",
       .ExtraLogFields = "$http_content_encoding $content_type"});
  // Many times the chunk size, so that reading and compressing go round their loops.
  std::string LDocument = "<FileInventory>";
  for (int I = 0; I < 20000; ++I)
    LDocument += "<File Path=\"/srv/d" + std::to_string(I * 7919 % 100003) + "\"/>";
  LDocument += "</FileInventory>";
  const std::string LRelative = "results/File Scanner/20261207-101500-042.xml";
  ASSERT_TRUE(ReplaceFile(FData.Path(), LRelative, LDocument).Done());
  const std::shared_ptr<TOutbox> LOutbox = MakeOutbox(LServer);
  TResultUploader LUploader(LOutbox);
  const std::string LTaskId = "{F21E8F93-BA40-41E7-A9FB-A0771FA3480B}";
  LUploader.ResultWritten(LTaskId, FData.Path() + "/" + LRelative);
  LUploader.ResultWritten(LTaskId, FData.Path() + "/" + LRelative);
  LOutbox->Start();
  ASSERT_TRUE(LOutbox->WaitUntilEmpty(Clock().DeadlineIn(20)));
  LOutbox->Stop();

  const std::string LFolder = LServer.Root() + "/moved/" + LTaskId;
  EXPECT_LT(Testing::ReadFile(LFolder + "/20261207-101500-042.xml").size(), LDocument.size() / 4);
  EXPECT_EQ(Gunzip(LFolder + "/20261207-101500-042.xml"), LDocument);
  EXPECT_EQ(LServer.WaitForRequests("PUT /moved/", 2), 2);
  EXPECT_EQ(LServer.CountRequests("gzip application/xml"), 4);  // each send redirected once
  EXPECT_EQ(Testing::DirectoryEntries(LFolder).size(), 1u);
}

// Job threads report while the sender sends and the owner stops: every item is either delivered or
// still on disk for the next start, none twice in the outbox and none lost.
TEST_F(OutboxTest, ItemsAddedWhileSendingAndStoppingAreDeliveredOrKept) {
  TNginxServer LServer;
  constexpr int CThreads = 4, CItems = 20;
  {
    const auto LOutbox = MakeOutbox(LServer);
    LOutbox->Start();
    std::vector<std::function<void()>> LBodies;
    for (int LThread = 0; LThread < CThreads; ++LThread)
      LBodies.push_back([&, LThread] {
        for (int LItem = 0; LItem < CItems; ++LItem)
          EXPECT_TRUE(LOutbox->Add(
              TKind::Report, "reports/" + std::to_string(LThread) + "-" + std::to_string(LItem) + ".xml",
              "<r/>", "application/xml"));
      });
    LBodies.push_back([&] { LOutbox->Stop(0); });
    Testing::RunConcurrently(LBodies);
  }
  const auto LOutbox = MakeOutbox(LServer);
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/c1/reports/", CThreads * CItems - LOutbox->ItemCount()) +
                LOutbox->ItemCount(),
            CThreads * CItems);
  LOutbox->Start();
  EXPECT_TRUE(LOutbox->WaitUntilEmpty(Clock().DeadlineIn(30)));
  LOutbox->Stop();
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/c1/reports/", CThreads * CItems), CThreads * CItems);
}

std::string JobListXml(const TIds& AIds) {
  std::string LXml = "<?xml version=\"1.0\"?>\n<TJobList>";
  for (const std::string& LId : AIds) LXml += "<TJob><Identifier>" + LId + "</Identifier></TJob>";
  return LXml + "</TJobList>\n";
}

class ServerLinkTest : public OutboxTest {
protected:
  std::unique_ptr<TServerLink> MakeLink(const TNginxServer& AServer) {
    FOutbox = MakeOutbox(AServer);
    TServerLinkOptions LOptions;
    LOptions.ServerUrl = AServer.Url();
    LOptions.ClientId = "c1";
    LOptions.DataDir = FData.Path();
    // The longest window a failure can open: a retry right after it is always inside.
    LOptions.Random = [] { return 0.99; };
    return std::make_unique<TServerLink>(LOptions, FHttp, FOutbox);
  }

  Testing::TLogCapture FLog;
  std::shared_ptr<TOutbox> FOutbox;
};

TEST_F(ServerLinkTest, TheClientListElseTheFleetsUnchangedCostsNoParseAndABadOneKeepsTheLast) {
  TNginxServer LServer;
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
  TNginxServer LServer;
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
  TNginxServer LServer({.ExtraServerConfig = "location = /clients/c1/jobs.xml { limit_rate 100; }"});
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
  TNginxServer LServer(Testing::ExampleSiteOptions(LPki));
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
  try {
    return CheckServerLinkOptions(
        {.ServerUrl = AUrl, .ClientId = AClientId, .DataDir = {}, .Http = std::move(AHttp), .Random = {}});
  } catch (const std::invalid_argument& E) {
    return std::string("refused: ") + E.what();
  }
}

using ServerLinkOptionsTest = HttpClientTest;
TEST_F(ServerLinkOptionsTest, OptionsTheAgentMustNotStartWithAreRefusedAndTheCnIsTheClientId) {
  const std::string U = "https://server.example/";
  const auto LRefused = [](const std::string& AUrl, const THttpClientOptions& AHttp) {
    return StartingId(AUrl, AHttp).starts_with("refused: ");
  };
  EXPECT_FALSE(LRefused(U + "agents", {}));
  EXPECT_FALSE(LRefused("http://127.0.0.1:8080/", {"", "", "", true}));
  EXPECT_TRUE(LRefused("ftp://server.example/", {"", "", "", true}));
  EXPECT_TRUE(LRefused("https:///jobs", {}));
  EXPECT_TRUE(LRefused(U, {"", FPki.ClientCert, "", false}));
  EXPECT_TRUE(LRefused(U, {FPkiDir.Path() + "/missing.pem", "", "", false}));

  const THttpClientOptions LMutual{FPki.CaCert, FPki.ClientCert, FPki.ClientKey};
  const std::string LDiffers = "refused: --client-id client-8 differs from the CN client-7 of the client certificate ";
  EXPECT_EQ(StartingId(U, LMutual), "client-7");
  EXPECT_EQ(StartingId(U, LMutual, "client-7"), "client-7");
  EXPECT_EQ(StartingId(U, LMutual, "client-8").substr(0, LDiffers.size()), LDiffers);
  const auto [LUpperCert, LUpperKey] = Testing::MakeTestClientCert(FPki, FPkiDir.Path(), "Client-7");
  EXPECT_TRUE(StartingId(U, {FPki.CaCert, LUpperCert, LUpperKey}, "client-7").starts_with("refused: "));
  chmod(FPki.ClientKey.c_str(), 0640);
  EXPECT_TRUE(LRefused(U, LMutual));
}

// A certificate near its end is told of once a day; an ended one is an error.
using ClientCertificateTest = HttpClientTest;
TEST_F(ClientCertificateTest, ACertificateNearItsEndIsToldOnceADayAndAnEndedOneIsAnError) {
  const std::string LSoon = Testing::MakeTestClientCert(FPki, FPkiDir.Path(), "soon", 3).first;
  Testing::TManualClockScope LClock(Now());
  Testing::TLogCapture LLog;
  TCertificateExpiryWatch(Testing::MakeTestClientCert(FPki, FPkiDir.Path(), "later", 30).first).Check();
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
