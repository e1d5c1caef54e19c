#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Server/ClientCertificate.h"
#include "Server/ServerLink.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"
#include "Support/NginxServer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// The id the agent would start with, or the text of the refusal that exits 2.
std::string StartingId(const Testing::TTestPki& APki, const std::string& ADir, const std::string& ACn,
                       const std::string& AClientId) {
  const auto [LCert, LKey] = Testing::MakeTestClientCert(APki, ADir, ACn);
  TServerLinkOptions LOptions;
  LOptions.ServerUrl = "https://server.example/";
  LOptions.ClientId = AClientId;
  LOptions.Http = {APki.CaCert, LCert, LKey, false};
  try {
    return CheckServerLinkOptions(LOptions);
  } catch (const std::invalid_argument& E) {
    return std::string("refused: ") + E.what();
  }
}

TEST(ClientCertificateTest, TheCnIsTheClientIdAndADifferentClientIdRefusesTheStart) {
  Testing::TTempDir LDir;
  const Testing::TTestPki LPki = Testing::MakeTestPki(LDir.Path());
  const std::vector<std::tuple<std::string, std::string, std::string>> LCases = {
      {"client-7", "", "client-7"},
      {"client-7", "client-7", "client-7"},
      {"client-7", "client-8",
       "refused: --client-id client-8 differs from the CN client-7 of the client certificate "},
      {"Client-7", "client-7",
       "refused: --client-id client-7 differs from the CN Client-7 of the client certificate "},
  };
  for (const auto& [LCn, LClientId, LExpected] : LCases)
    EXPECT_EQ(StartingId(LPki, LDir.Path(), LCn, LClientId).substr(0, LExpected.size()), LExpected)
        << LCn << " / " << LClientId;
}

TEST(ClientCertificateTest, ACertificateNearItsEndIsToldOnceADayAndAnEndedOneIsAnError) {
  Testing::TTempDir LDir;
  const Testing::TTestPki LPki = Testing::MakeTestPki(LDir.Path());
  const std::string LSoon = Testing::MakeTestClientCert(LPki, LDir.Path(), "soon", 3).first;
  const std::string LLater = Testing::MakeTestClientCert(LPki, LDir.Path(), "later", 30).first;
  Testing::TManualClockScope LClock(Now());
  Testing::TLogCapture LLog;

  TCertificateExpiryWatch LLaterWatch(LLater);
  LLaterWatch.Check();
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
