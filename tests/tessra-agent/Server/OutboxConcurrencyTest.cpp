#include <gtest/gtest.h>

#include "Server/Outbox.h"
#include "Support/NginxServer.h"
#include "Support/RunConcurrently.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// Job threads report while the sender sends and the owner stops: every item is either delivered or
// still on disk for the next start, none twice in the outbox and none lost.
TEST(OutboxConcurrencyTest, ItemsAddedWhileSendingAndStoppingAreDeliveredOrKept) {
  Testing::TNginxServer LServer;
  Testing::TTempDir LData;
  const auto LHttp = std::make_shared<THttpClient>(THttpClientOptions{"", "", "", true});
  constexpr int CThreads = 4;
  constexpr int CItems = 20;
  {
    TOutbox LOutbox(LData.Path(), LServer.Url() + "clients/c1/", LHttp);
    LOutbox.Start();
    std::vector<std::function<void()>> LBodies;
    for (int LThread = 0; LThread < CThreads; ++LThread)
      LBodies.push_back([&, LThread] {
        for (int LItem = 0; LItem < CItems; ++LItem)
          EXPECT_TRUE(LOutbox.Add(TOutbox::TKind::Report,
                                  "reports/" + std::to_string(LThread) + "-" + std::to_string(LItem) + ".xml",
                                  "<r/>", "application/xml"));
      });
    LBodies.push_back([&] { LOutbox.Stop(0); });
    Testing::RunConcurrently(LBodies);
  }
  TOutbox LOutbox(LData.Path(), LServer.Url() + "clients/c1/", LHttp);
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/c1/reports/", CThreads * CItems - LOutbox.ItemCount()) +
                LOutbox.ItemCount(),
            CThreads * CItems);
  LOutbox.Start();
  EXPECT_TRUE(LOutbox.WaitUntilEmpty(Clock().DeadlineIn(30)));
  LOutbox.Stop();
  EXPECT_EQ(LServer.WaitForRequests("PUT /clients/c1/reports/", CThreads * CItems), CThreads * CItems);
}

}  // namespace
}  // namespace Orvane
