#include <gtest/gtest.h>

#include <memory>

#include "OrvaneCore/Platform/SafeFiles.h"
#include "Server/Outbox.h"
#include "Support/NginxServer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using TKind = TOutbox::TKind;

class OutboxTest : public ::testing::Test {
protected:
  std::unique_ptr<TOutbox> MakeOutbox(const Testing::TNginxServer& AServer, TOutboxSettings ASettings = {}) {
    // Retries come quickly: a test sees several within a moment.
    ASettings.FirstRetrySeconds = 0.02;
    ASettings.MaxRetrySeconds = 0.05;
    return std::make_unique<TOutbox>(FData.Path(), AServer.Url() + "clients/c1/", FHttp, std::move(ASettings));
  }
  std::size_t FailedCount() const {
    std::vector<TDirectoryEntry> LEntries;
    ListDirectory(FData.Path(), "outbox/failed", LEntries);
    return LEntries.size();
  }

  Testing::TTempDir FData;
  std::shared_ptr<THttpClient> FHttp = std::make_shared<THttpClient>(THttpClientOptions{"", "", "", true});
};

TEST_F(OutboxTest, DeliveredItemsGoARefusedOneIsSetAsideAndAFailingOneIsRetriedAcrossRestarts) {
  Testing::TNginxOptions LOptions;
  LOptions.ExtraServerConfig = "location /clients/c1/denied { return 403; }\n"
                               "location /clients/c1/busy { return 503; }";
  Testing::TNginxServer LServer(LOptions);
  {
    const auto LOutbox = MakeOutbox(LServer);
    ASSERT_TRUE(LOutbox->Add(TKind::Report, "denied/a.xml", "<a/>", "application/xml"));
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
  EXPECT_EQ(FailedCount(), 1u);
  // Oldest first: what waits behind the failing item is not sent around it.
  EXPECT_EQ(LServer.CountRequests("reports/d.xml"), 0);

  // The items are still there for a new start.
  const auto LOutbox = MakeOutbox(LServer);
  EXPECT_EQ(LOutbox->ItemCount(), 2);
}

TEST_F(OutboxTest, AFullOutboxPushesOutResultsOldestFirstButNeverAReport) {
  Testing::TNginxServer LServer;
  TOutboxSettings LSettings;
  LSettings.MaxItems = 3;
  LSettings.MaxBytes = 1000;
  const auto LOutbox = MakeOutbox(LServer, LSettings);
  EXPECT_TRUE(LOutbox->Add(TKind::Report, "r1", "r1", "text/plain"));
  EXPECT_TRUE(LOutbox->Add(TKind::Result, "s1", "s1", "text/plain"));
  EXPECT_TRUE(LOutbox->Add(TKind::Result, "s2", "s2", "text/plain"));
  EXPECT_TRUE(LOutbox->Add(TKind::Report, "r2", "r2", "text/plain"));       // s1 goes
  EXPECT_TRUE(LOutbox->Add(TKind::Result, "s3", "s3", "text/plain"));       // s2 goes
  EXPECT_TRUE(LOutbox->Add(TKind::Report, "r3", "r3", "text/plain"));       // s3 goes
  EXPECT_FALSE(LOutbox->Add(TKind::Result, "s4", "s4", "text/plain"));      // only reports left
  EXPECT_FALSE(LOutbox->Add(TKind::Report, "r4", "r4", "text/plain"));
  EXPECT_FALSE(LOutbox->Add(TKind::Report, "big", std::string(1000, 'x'), "text/plain"));
  LOutbox->Start();
  EXPECT_TRUE(LOutbox->WaitUntilEmpty(Clock().DeadlineIn(20)));
  LOutbox->Stop();
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/c1/r", 3), 3);
  EXPECT_EQ(LServer.CountRequests("PUT /clients/c1/s"), 0);
}

}  // namespace
}  // namespace Orvane
