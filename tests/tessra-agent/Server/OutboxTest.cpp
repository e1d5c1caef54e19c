#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>

#include "OrvaneCore/Platform/SafeFiles.h"
#include "Server/Outbox.h"
#include "Server/ResultUploader.h"
#include "Support/FileText.h"
#include "Support/NginxServer.h"
#include "Support/RunConcurrently.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using TKind = TOutbox::TKind;

// The content of a gzip file.
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
  std::unique_ptr<TOutbox> MakeOutbox(const Testing::TNginxServer& AServer, TOutboxSettings ASettings = {}) {
    // Retries come quickly: a test sees several within a moment.
    ASettings.FirstRetrySeconds = 0.02;
    ASettings.MaxRetrySeconds = 0.05;
    return std::make_unique<TOutbox>(FData.Path(), AServer.Url() + "clients/c1/", FHttp, std::move(ASettings));
  }

  Testing::TTempDir FData;
  std::shared_ptr<THttpClient> FHttp = std::make_shared<THttpClient>(THttpClientOptions{"", "", "", true});
};

TEST_F(OutboxTest, DeliveredItemsGoARefusedOneIsSetAsideAndAFailingOneHoldsUpTheRest) {
  Testing::TNginxServer LServer({.ExtraServerConfig = "location /clients/c1/denied { return 403; }\n"
                                                      "location /clients/c1/busy { return 503; }"});
  TOutboxSettings LSettings;
  LSettings.MaxFailedItems = 1;
  {
    const auto LOutbox = MakeOutbox(LServer, LSettings);
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
  Testing::TNginxServer LServer;
  TOutboxSettings LSettings;
  LSettings.MaxItems = 3;
  LSettings.MaxBytes = 1000;
  const auto LOutbox = MakeOutbox(LServer, LSettings);
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
  Testing::TNginxServer LServer(
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
  Testing::TNginxServer LServer;
  constexpr int CThreads = 4;
  constexpr int CItems = 20;
  {
    const auto LOutbox = MakeOutbox(LServer);
    LOutbox->Start();
    std::vector<std::function<void()>> LBodies;
    for (int LThread = 0; LThread < CThreads; ++LThread)
      LBodies.push_back([&, LThread] {
        for (int LItem = 0; LItem < CItems; ++LItem)
          EXPECT_TRUE(LOutbox->Add(TOutbox::TKind::Report,
                                  "reports/" + std::to_string(LThread) + "-" + std::to_string(LItem) + ".xml",
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

}  // namespace
}  // namespace Orvane
