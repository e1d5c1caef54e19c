#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include "LoggerFixture.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Logging/TextLogSink.h"
#include "Support/ClockScope.h"
#include "Support/RunConcurrently.h"

namespace Orvane::Testing {
namespace {

using LoggerConcurrencyTest = TLoggerTest;

TEST_F(LoggerConcurrencyTest, ThreadsLogWhileSinksComeAndGo) {
  constexpr int CLoggers = 4, CRounds = 300, CSinkChanges = 300;
  TLoggedJob LJob("Running");
  const auto LLogger = [&LJob] {
    IOrvaneLogger& LLog = *OrvaneLogger();
    for (int LRound = 0; LRound < CRounds; ++LRound) {
      LLog.BeginGroup("outer");
      LLog.IntegerValue("depth", 1);
      LLog.Message("round %d", {LRound});
      LLog.BeginGroup("inner");
      LLog.IntegerValue("depth", 2);
      LLog.MessageObject("job", &LJob);
      LLog.EndGroup();
      LLog.EndGroup();
      LLog.IntegerValue("depth", 0);
      (void)LLog.IsActive();
    }
  };
  // Adds and removes sinks, a text sink among them, while the others log.
  std::vector<std::shared_ptr<TRecordingLogSink>> LVisitors;
  const auto LSinkChanger = [&LVisitors] {
    for (int LChange = 0; LChange < CSinkChanges; ++LChange) {
      auto LVisitor = std::make_shared<TRecordingLogSink>();
      auto LText = std::make_shared<TTextLogSink>(TTextLogSinkOptions{false, "", TLogLevel::Trace});
      AddLogSink(LVisitor);
      AddLogSink(LText);
      RemoveLogSink(LText);
      if (LChange % 30 == 0)
        LVisitors.push_back(LVisitor);
      else
        RemoveLogSink(LVisitor);
    }
  };
  RunConcurrently({LLogger, LLogger, LLogger, LLogger, LSinkChanger});

  std::map<std::thread::id, std::vector<TLogEntry>> LByThread;
  for (const TLogEntry& LEntry : FRecording->Entries()) LByThread[LEntry.ThreadId].push_back(LEntry);
  ASSERT_EQ(LByThread.size(), static_cast<size_t>(CLoggers));
  // In each thread's entries groups nest properly, every entry carries the depth of the groups
  // around it, and the rounds arrive in order.
  for (const auto& [LId, LEntries] : LByThread) {
    EXPECT_EQ(LEntries.size(), static_cast<size_t>(CRounds * 9));
    int LDepth = 0, LRound = 0;
    for (const TLogEntry& LEntry : LEntries) {
      if (LEntry.Kind == K::GroupEnd) --LDepth;
      ASSERT_EQ(LEntry.Depth, LDepth) << LEntry.Text;
      if (LEntry.Kind == K::GroupBegin) ++LDepth;
      ASSERT_TRUE(LEntry.Kind != K::Value || LEntry.Value == std::to_string(LDepth)) << LEntry.Value;
      ASSERT_TRUE(LEntry.Kind != K::Message || LEntry.Text == "round " + std::to_string(LRound++))
          << LEntry.Text;
      ASSERT_TRUE(LEntry.Kind != K::Object || LEntry.ObjectText == "<Job State=\"Running\"/>")
          << LEntry.ObjectText;
    }
    EXPECT_EQ(LDepth, 0);
    EXPECT_EQ(LRound, CRounds);
  }
  // A sink that stayed sees each thread's entries from the moment it came, in order; the rounds
  // then need not start at zero.
  for (const auto& LVisitor : LVisitors) {
    std::map<std::thread::id, int> LLastRound;
    for (const TLogEntry& LEntry : LVisitor->Entries()) {
      if (LEntry.Kind != K::Message) continue;
      const int LRound = std::stoi(LEntry.Text.substr(6));
      ASSERT_TRUE(!LLastRound.count(LEntry.ThreadId) || LRound == LLastRound[LEntry.ThreadId] + 1);
      LLastRound[LEntry.ThreadId] = LRound;
    }
  }
}

TEST_F(LoggerConcurrencyTest, TheLogLimiterLetsOneLineOfAFloodFromManyThreadsThroughAndCountsTheRest) {
  TManualClockScope LClock;
  TLogLimiter LLimiter(60);
  const auto LFlood = [&LLimiter] {
    for (int I = 0; I < 500; ++I) LLimiter.Warning("Flood", "flood", {});
  };
  RunConcurrently({LFlood, LFlood, LFlood, LFlood});
  Clock().AdvanceSeconds(60);
  LLimiter.Flush();
  EXPECT_EQ(FRecording->Count(K::Warning, "flood"), 1);
  EXPECT_TRUE(FRecording->Contains(K::Warning, "Flood: 1999 more in the last 60 seconds"));
}

}  // namespace
}  // namespace Orvane::Testing
