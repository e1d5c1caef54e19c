#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "LoggerFixture.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Logging/TextLogSink.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Support/ClockScope.h"
#include "Support/FileText.h"
#include "Support/TempDir.h"

namespace Orvane::Testing {
namespace {

using K = TLogEntryKind;
using LoggerTest = TLoggerTest;

TEST_F(LoggerTest, NamedValuesExceptionsAndFileContentAreRecordedAsText) {
  TTempDir LDir;
  const std::string LSmall = LDir.Path() + "/small.conf", LLarge = LDir.Path() + "/large.conf";
  std::ofstream(LSmall, std::ios::binary) << "Interval=5\nRetries=2\n";
  std::ofstream(LLarge) << std::string(200 * 1024, 'x');
  Log().IntegerValue("Size", -9223372036854775807LL - 1);
  Log().BooleanValue("Enabled", true);
  Log().DateTimeValue("Due", EncodeDateTime(2026, 12, 6, 16, 50, 0, 123));
  Log().ObjectValue("Owner", nullptr);
  Log().StringsValue("Steps", {"copy", "verify", ""});
  Log().FileContentValue("Config", LSmall);
  Log().FileContentValue("Large", LLarge);
  Log().FileContentValue("Missing", LDir.Path() + "/missing.conf");
  Log().LogException(EOSError("fork failed", EAGAIN), "TProcess.Start");
  Log().LogException(std::runtime_error("plain"), "");

  const std::vector<TLogEntry> LEntries = FRecording->Entries();
  ASSERT_EQ(LEntries.size(), 10u);
  using TValues = std::vector<std::pair<std::string, std::string>>;
  TValues LValues;
  for (std::size_t I = 0; I < 6; ++I) LValues.emplace_back(LEntries[I].Text, LEntries[I].Value);
  EXPECT_EQ(LValues, (TValues{{"Size", "-9223372036854775808"},
                              {"Enabled", "true"},
                              {"Due", "2026-12-06 16:50:00.123"},
                              {"Owner", "(null)"},
                              {"Steps", "copy\nverify\n"},
                              {"Config", "Interval=5\nRetries=2\n"}}));
  // A large file is cut at 64 KiB and says so; a missing one gives the error.
  EXPECT_EQ(LEntries[6].Value.substr(0, 64 * 1024), std::string(64 * 1024, 'x'));
  EXPECT_LT(LEntries[6].Value.size(), 65 * 1024u);
  EXPECT_NE(LEntries[6].Value.find("goes on beyond"), std::string::npos);
  EXPECT_EQ(LEntries[7].ErrorCode, ENOENT);
  EXPECT_NE(LEntries[7].Value.find(std::string("missing.conf cannot be read: ") + std::strerror(ENOENT)),
            std::string::npos)
      << LEntries[7].Value;
  EXPECT_EQ(LEntries[8].ExceptionClass + " " + std::to_string(LEntries[8].ErrorCode),
            "EOSError " + std::to_string(EAGAIN));
  EXPECT_EQ(LEntries[9].ExceptionClass + " " + LEntries[9].Text, "Exception plain");
}

TEST_F(LoggerTest, MismatchedFormatsKeepTextAndArgumentsWithoutThrowing) {
  EXPECT_EQ(FormatLogText("100%", {}), "100%");
  Log().Message("Step %d", {"abc"});
  Log().Error("%s %s %d", {"only one"});
  EXPECT_EQ(FRecording->Texts(K::Message), std::vector<std::string>{"Step %d [abc]"});
  EXPECT_EQ(FRecording->Texts(K::Error), std::vector<std::string>{"%s %s %d [only one]"});
}

// A sink of a chosen level that records without object text; a failing one throws on every entry,
// after logging from inside Write.
class TTestSink : public TRecordingLogSink {
public:
  explicit TTestSink(TLogLevel ALevel, bool AFails = false) : FLevel(ALevel), FFails(AFails) {}
  TLogLevel Level() const override { return FLevel; }
  bool WantsObjectText() const override { return false; }
  void Write(const TLogEntry& AEntry) override {
    TRecordingLogSink::Write(AEntry);
    if (!FFails) return;
    OrvaneLogger()->Message("from inside a sink");
    throw std::runtime_error("sink broken");
  }

private:
  const TLogLevel FLevel;
  const bool FFails;
};

// Counts how often the logger asks it for its class name and text; its text may fail.
class TProbeObject : public TOrvaneObject {
public:
  explicit TProbeObject(bool AFails = false) : FFails(AFails) {}
  std::string ClassName() const override { return ++FAsked, "TProbeObject"; }
  std::string LogText() const override {
    return FFails ? throw EInvalidOperation("no text") : (++FAsked, "text");
  }
  const bool FFails;
  mutable int FAsked = 0;
};

TEST_F(LoggerTest, SinkLevelsDecideWhatIsBuiltAndWritten) {
  RemoveAllLogSinks();
  auto LWarnings = std::make_shared<TTestSink>(TLogLevel::Warning);
  auto LInfo = std::make_shared<TTestSink>(TLogLevel::Info);
  AddLogSink(LWarnings);
  AddLogSink(LInfo);
  AddLogSink(LInfo);  // a second add is ignored
  EXPECT_FALSE(Log().IsActive());

  TProbeObject LObject;
  Log().MessageObject("not built", &LObject);
  Log().TraceEnter("not built", &LObject);
  EXPECT_EQ(LObject.FAsked, 0);
  Log().Message("info");
  Log().Warning("warning");
  EXPECT_EQ(LWarnings->Entries().size() * 10 + LInfo->Entries().size(), 12u);
  auto LDebug = std::make_shared<TTestSink>(TLogLevel::Debug);
  AddLogSink(LDebug);
  EXPECT_TRUE(Log().IsActive());
  Log().MessageObject("built", &LObject);
  ASSERT_EQ(LDebug->Entries().size(), 1u);
  EXPECT_EQ(LDebug->Entries()[0].ObjectClass + "|" + LDebug->Entries()[0].ObjectText, "TProbeObject|");
  EXPECT_EQ(LObject.FAsked, 1);
  RemoveLogSink(LDebug);
  EXPECT_FALSE(Log().IsActive());
}

TEST_F(LoggerTest, FailingObjectsAndSinksNeverReachTheCaller) {
  RemoveAllLogSinks();
  auto LFailing = std::make_shared<TTestSink>(TLogLevel::Trace, true);
  auto LAfter = std::make_shared<TRecordingLogSink>();
  AddLogSink(LFailing);
  AddLogSink(LAfter);
  TProbeObject LObject(true);
  Log().MessageObject("Job state", &LObject);
  Log().Message("next");
  EXPECT_EQ(LAfter->Texts(K::Message), std::vector<std::string>{"next"});
  const TLogEntry LEntry = LAfter->Entries().at(LAfter->IndexOf(K::Object, "Job state"));
  EXPECT_EQ(LEntry.ObjectClass, "TProbeObject");
  EXPECT_NE(LEntry.Value.find("no text"), std::string::npos);
  EXPECT_EQ(LFailing->Entries().size(), 2u);
}

using TLines = std::vector<std::pair<K, std::string>>;
const std::string CMore = " more in the last 60 seconds, not logged one by one";

class LogLimiterTest : public TLoggerTest {
protected:
  // The kinds and texts logged, from the AFrom-th entry on.
  TLines Lines(std::size_t AFrom = 0) const {
    TLines LLines;
    for (const TLogEntry& LEntry : FRecording->Entries()) LLines.emplace_back(LEntry.Kind, LEntry.Text);
    return TLines(LLines.begin() + std::min(AFrom, LLines.size()), LLines.end());
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
  EXPECT_EQ(Lines(), (TLines{{K::Warning, "refused process 0"}, {K::Message, "reload"}}));
  // The interval is over: the count is told even though the flood has stopped.
  Clock().AdvanceSeconds(1);
  FLimiter.Flush();
  EXPECT_FALSE(FLimiter.HasHeldBack());
  EXPECT_EQ(Lines().size(), 3u);
  // A flood that goes on costs one summary per interval, not a line and a summary.
  Clock().AdvanceSeconds(30);
  FLimiter.Warning("Refused peer", "refused process %d", {6});
  Clock().AdvanceSeconds(30);
  FLimiter.Warning("Refused peer", "refused process %d", {7});
  EXPECT_EQ(Lines().size(), 4u);
  // The line held back last is told at the end of its interval; an interval with nothing held back
  // ends quietly, and the kind starts afresh.
  Clock().AdvanceSeconds(60);
  FLimiter.Flush();
  Clock().AdvanceSeconds(60);
  FLimiter.Flush();
  FLimiter.LastError("Refused peer", "accept failed", 24);
  EXPECT_EQ(Lines(), (TLines{{K::Warning, "refused process 0"},
                             {K::Message, "reload"},
                             {K::Warning, "Refused peer: 5" + CMore},
                             {K::Warning, "Refused peer: 1" + CMore},
                             {K::Warning, "Refused peer: 1" + CMore},
                             {K::LastError, "accept failed"}}));
  // Summaries keep the level of the lines they stand for.
  const std::size_t LFrom = Lines().size() + 3;
  for (int I = 0; I < 2; ++I) {
    FLimiter.Error("E", "error", {});
    FLimiter.Message("M", "message", {});
    FLimiter.IntegerValue("V", "value", I);
  }
  Clock().AdvanceSeconds(60);
  FLimiter.Flush();
  EXPECT_EQ(Lines(LFrom), (TLines{{K::Error, "E: 1" + CMore},
                                  {K::Message, "M: 1" + CMore},
                                  {K::Value, "V: not logged in the last interval"}}));
}

class TextLogSinkTest : public TLoggerTest {
protected:
  std::shared_ptr<TTextLogSink> AddFileSink(const std::string& AFile, TLogLevel ALevel) {
    auto LSink = std::make_shared<TTextLogSink>(TTextLogSinkOptions{false, AFile, ALevel});
    AddLogSink(LSink);
    return LSink;
  }

  // The start of every line this thread writes while the manual clock stands at its start.
  static std::string Prefix(const std::string& ALevel) {
    std::ostringstream LThread;
    LThread << std::this_thread::get_id();
    return "2026-03-02 10:00:00.000 " + ALevel + " [" + LThread.str() + "] ";
  }
  // The lines, each ended.
  static std::string Lines(std::initializer_list<std::string> ALines) {
    std::string LText;
    for (const std::string& LLine : ALines) LText += LLine + "\n";
    return LText;
  }

  TManualClockScope FClock;
  TTempDir FDir;
};

// One sink writes everything, one from Info on; the indentation of groups holds in both. The log's
// folder name goes beyond ASCII: on Windows it must reach the file system as UTF-16.
TEST_F(TextLogSinkTest, WritesIndentedReadableLinesOfItsLevelAndFlushesWarningsAtOnce) {
  const std::string LFile = FDir.Path() + "/Protokolle-\xC3\xA4\xE6\x96\x87/agent.log";
  const std::string LInfoFile = FDir.Path() + "/info.log";
  auto LSink = AddFileSink(LFile, TLogLevel::Debug);
  auto LInfo = AddFileSink(LInfoFile, TLogLevel::Info);
  EXPECT_FALSE(LInfo->WantsObjectText());
  TLoggedJob LJob("Waiting");

  Log().Message("Agent started");
  Log().BeginGroup("Update queue");
  Log().IntegerValue("Jobs", 2);
  Log().StringValue("Next", "Backup");
  Log().StringsValue("Steps", {"copy", "verify"});
  Log().MessageObject("Job added", &LJob);
  Log().TraceEnter("TJob.Run");
  Log().Message("Queue loaded");
  Log().EndGroup();
  Log().EndGroup();  // unmatched: must not push later lines out of their depth
  TLogEntry LDebugEntry;
  LDebugEntry.Kind = TLogEntryKind::Value;
  LInfo->Write(LDebugEntry);
  Log().Warning("Disk almost full");
  // No Flush: the warning pushed out what was buffered before it.
  EXPECT_EQ(ReadFile(LInfoFile), Lines({Prefix("INFO ") + "Agent started", Prefix("INFO ") + "  Queue loaded",
                                        Prefix("WARN ") + "Disk almost full"}));
  Log().LastError("Cannot open queue", ENOENT);
  Log().LogException(EFileError("Queue damaged"), "TJobScheduler.UpdateQueue");
  LSink->Flush();

  const std::string LMore(Prefix("DEBUG").size(), ' ');
  EXPECT_EQ(ReadFile(LFile), Lines({
                                 Prefix("INFO ") + "Agent started",
                                 Prefix("DEBUG") + "Update queue {",
                                 Prefix("DEBUG") + "  Jobs = 2",
                                 Prefix("DEBUG") + "  Next = Backup",
                                 Prefix("DEBUG") + "  Steps =",
                                 LMore + "      copy",
                                 LMore + "      verify",
                                 Prefix("DEBUG") + "  Job added [TLoggedJob]",
                                 LMore + "      <Job State=\"Waiting\"/>",
                                 Prefix("INFO ") + "  Queue loaded",
                                 Prefix("DEBUG") + "}",
                                 Prefix("WARN ") + "Disk almost full",
                                 Prefix("ERROR") + "Cannot open queue: error " + std::to_string(ENOENT) +
                                     " (" + OSErrorText(ENOENT) + ")",
                                 Prefix("ERROR") + "EFileError: Queue damaged (TJobScheduler.UpdateQueue)",
                             }));
  EXPECT_THROW(TTextLogSink(TTextLogSinkOptions{false, "/dev/null/logs/agent.log", TLogLevel::Info}),
               EFileError);
}

}  // namespace
}  // namespace Orvane::Testing
