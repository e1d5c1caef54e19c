#include "OrvaneCore/Logging/LogLimiter.h"

#include <gtest/gtest.h>

#include "LoggerFixture.h"
#include "Support/ClockScope.h"

namespace Orvane::Testing {
namespace {

using K = TLogEntryKind;

class LogLimiterTest : public TLoggerTest {
protected:
  std::vector<std::pair<K, std::string>> Lines() const {
    std::vector<std::pair<K, std::string>> LLines;
    for (const TLogEntry& LEntry : FRecording->Entries()) LLines.emplace_back(LEntry.Kind, LEntry.Text);
    return LLines;
  }

  TManualClockScope FClock;
  TLogLimiter FLimiter{60};
};

TEST_F(LogLimiterTest, OneLinePerKindAndIntervalThenASummaryWithTheCount) {
  for (int I = 0; I < 5; ++I) FLimiter.Warning("Refused peer", "refused process %d", {I});
  FLimiter.Message("Reload", "reload", {});  // another kind is not held back by the first
  Clock().AdvanceSeconds(59);
  FLimiter.Warning("Refused peer", "refused process %d", {5});
  FLimiter.Flush();
  EXPECT_TRUE(FLimiter.HasHeldBack());
  EXPECT_EQ(Lines(), (std::vector<std::pair<K, std::string>>{{K::Warning, "refused process 0"}, {K::Message, "reload"}}));

  // The interval is over: the count is told even though the flood has stopped.
  Clock().AdvanceSeconds(1);
  FLimiter.Flush();
  EXPECT_FALSE(FLimiter.HasHeldBack());
  ASSERT_EQ(Lines().size(), 3u);
  EXPECT_EQ(Lines()[2],
            std::make_pair(K::Warning, std::string("Refused peer: 5 more in the last 60 seconds, not logged one by one")));

  // A flood that goes on costs one summary per interval, not a line and a summary.
  Clock().AdvanceSeconds(30);
  FLimiter.Warning("Refused peer", "refused process %d", {6});
  Clock().AdvanceSeconds(30);
  FLimiter.Warning("Refused peer", "refused process %d", {7});
  ASSERT_EQ(Lines().size(), 4u);
  EXPECT_EQ(Lines()[3].second, "Refused peer: 1 more in the last 60 seconds, not logged one by one");
  // The line held back last is told at the end of its interval; an interval with nothing held back
  // ends quietly, and the kind starts afresh.
  Clock().AdvanceSeconds(60);
  FLimiter.Flush();
  Clock().AdvanceSeconds(60);
  FLimiter.Flush();
  FLimiter.LastError("Refused peer", "accept failed", 24);
  const std::vector<std::pair<K, std::string>> LLines = Lines();
  ASSERT_EQ(LLines.size(), 6u);
  EXPECT_EQ(LLines[4].second, "Refused peer: 1 more in the last 60 seconds, not logged one by one");
  EXPECT_EQ(LLines[5], std::make_pair(K::LastError, std::string("accept failed")));
}

TEST_F(LogLimiterTest, SummariesKeepTheLevelOfTheLinesTheyStandFor) {
  for (int I = 0; I < 2; ++I) {
    FLimiter.Error("E", "error", {});
    FLimiter.Message("M", "message", {});
    FLimiter.IntegerValue("V", "value", I);
  }
  Clock().AdvanceSeconds(60);
  FLimiter.Flush();
  const std::vector<std::pair<K, std::string>> LLines = Lines();
  ASSERT_EQ(LLines.size(), 6u);
  EXPECT_EQ(LLines[3], std::make_pair(K::Error, std::string("E: 1 more in the last 60 seconds, not logged one by one")));
  EXPECT_EQ(LLines[4], std::make_pair(K::Message, std::string("M: 1 more in the last 60 seconds, not logged one by one")));
  EXPECT_EQ(LLines[5], std::make_pair(K::Value, std::string("V: not logged in the last interval")));
}

}  // namespace
}  // namespace Orvane::Testing
