#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
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

using LoggerTest = TLoggerTest;

TEST_F(LoggerTest, NamedValuesExceptionsAndFileContentAreRecordedAsText) {
  TTempDir LDir;
  const std::string LSmall = LDir.Path() + "/small.conf", LLarge = LDir.Path() + "/large.conf";
  WriteFile(LSmall, "Interval=5\nRetries=2\n");
  WriteFile(LLarge, std::string(200 * 1024, 'x'));
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
  std::string LValues;
  for (std::size_t I = 0; I < 6; ++I) LValues += LEntries[I].Text + "=" + LEntries[I].Value + "|";
  EXPECT_EQ(LValues,
            "Size=-9223372036854775808|Enabled=true|Due=2026-12-06 16:50:00.123|Owner=(null)|"
            "Steps=copy\nverify\n|Config=Interval=5\nRetries=2\n|");
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

// A job's object text is its whole XML: the logger builds it only when a sink that takes Debug
// wants it, so that an idle or Info-level log costs no serialization. A sink added twice writes once.
TEST_F(LoggerTest, ObjectTextIsBuiltOnlyForADebugSinkThatWantsIt) {
  struct TLevelSink : TRecordingLogSink {
    explicit TLevelSink(TLogLevel ALevel, bool AWantsText) : FLevel(ALevel), FWantsText(AWantsText) {}
    TLogLevel Level() const override { return FLevel; }
    bool WantsObjectText() const override { return FWantsText; }
    const TLogLevel FLevel;
    const bool FWantsText;
  };
  struct TProbeObject : TOrvaneObject {
    std::string ClassName() const override { return "TProbeObject"; }
    std::string LogText() const override { return ++FBuilt, "text"; }
    mutable int FBuilt = 0;
  } LObject;
  RemoveAllLogSinks();
  const auto LInfo = std::make_shared<TLevelSink>(TLogLevel::Info, true);
  AddLogSink(LInfo);
  AddLogSink(LInfo);
  EXPECT_FALSE(Log().IsActive());
  Log().Message("info");
  Log().MessageObject("debug", &LObject);
  EXPECT_EQ(LInfo->Entries().size(), 1u);
  const auto LDebug = std::make_shared<TLevelSink>(TLogLevel::Debug, false);
  AddLogSink(LDebug);
  EXPECT_TRUE(Log().IsActive());
  Log().MessageObject("debug", &LObject);
  EXPECT_EQ(LObject.FBuilt, 0);
  RemoveLogSink(LDebug);
  EXPECT_FALSE(Log().IsActive());
  AddLogSink(std::make_shared<TLevelSink>(TLogLevel::Debug, true));
  Log().MessageObject("debug", &LObject);
  EXPECT_EQ(LObject.FBuilt, 1);
}

// Throws on every entry, after logging from inside Write.
class TFailingSink : public TRecordingLogSink {
public:
  void Write(const TLogEntry& AEntry) override {
    TRecordingLogSink::Write(AEntry);
    OrvaneLogger()->Message("from inside a sink");
    throw std::runtime_error("sink broken");
  }
};

// An object whose log text cannot be made.
class TFailingObject : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TFailingObject"; }
  std::string LogText() const override { throw EInvalidOperation("no text"); }
};

TEST_F(LoggerTest, FailingObjectsAndSinksNeverReachTheCaller) {
  RemoveAllLogSinks();
  auto LFailing = std::make_shared<TFailingSink>();
  auto LAfter = std::make_shared<TRecordingLogSink>();
  AddLogSink(LFailing);
  AddLogSink(LAfter);
  TFailingObject LObject;
  Log().MessageObject("Job state", &LObject);
  Log().Message("next");
  EXPECT_EQ(LAfter->Texts(K::Message), std::vector<std::string>{"next"});
  const TLogEntry LEntry = LAfter->Entries().at(LAfter->IndexOf(K::Object, "Job state"));
  EXPECT_EQ(LEntry.ObjectClass, "TFailingObject");
  EXPECT_NE(LEntry.Value.find("no text"), std::string::npos);
  EXPECT_EQ(LFailing->Entries().size(), 2u);
}

using TLines = std::vector<std::pair<K, std::string>>;
const std::string CMore = " more in the last 60 seconds, not logged one by one";

using LogLimiterTest = TLoggerTest;

TEST_F(LogLimiterTest, OneLinePerKindAndIntervalThenASummaryWithTheCount) {
  TManualClockScope LClock;
  TLogLimiter LLimiter(60);
  // The kinds and texts logged, from the AFrom-th entry on.
  const auto Lines = [this](std::size_t AFrom = 0) {
    TLines LLines;
    for (const TLogEntry& LEntry : FRecording->Entries()) LLines.emplace_back(LEntry.Kind, LEntry.Text);
    return TLines(LLines.begin() + std::min(AFrom, LLines.size()), LLines.end());
  };
  for (int I = 0; I < 5; ++I) LLimiter.Warning("Refused peer", "refused process %d", {I});
  LLimiter.Message("Reload", "reload", {});  // another kind is not held back by the first
  Clock().AdvanceSeconds(59);
  LLimiter.Warning("Refused peer", "refused process %d", {5});
  LLimiter.Flush();
  EXPECT_TRUE(LLimiter.HasHeldBack());
  EXPECT_EQ(Lines(), (TLines{{K::Warning, "refused process 0"}, {K::Message, "reload"}}));
  // The interval is over: the count is told even though the flood has stopped.
  Clock().AdvanceSeconds(1);
  LLimiter.Flush();
  EXPECT_FALSE(LLimiter.HasHeldBack());
  EXPECT_EQ(Lines().size(), 3u);
  // A flood that goes on costs one summary per interval, not a line and a summary.
  Clock().AdvanceSeconds(30);
  LLimiter.Warning("Refused peer", "refused process %d", {6});
  Clock().AdvanceSeconds(30);
  LLimiter.Warning("Refused peer", "refused process %d", {7});
  EXPECT_EQ(Lines().size(), 4u);
  // The line held back last is told at the end of its interval; an interval with nothing held back
  // ends quietly, and the kind starts afresh.
  Clock().AdvanceSeconds(60);
  LLimiter.Flush();
  Clock().AdvanceSeconds(60);
  LLimiter.Flush();
  LLimiter.LastError("Refused peer", "accept failed", 24);
  EXPECT_EQ(Lines(), (TLines{{K::Warning, "refused process 0"},
                             {K::Message, "reload"},
                             {K::Warning, "Refused peer: 5" + CMore},
                             {K::Warning, "Refused peer: 1" + CMore},
                             {K::Warning, "Refused peer: 1" + CMore},
                             {K::LastError, "accept failed"}}));
  // Summaries keep the level of the lines they stand for.
  const std::size_t LFrom = Lines().size() + 3;
  for (int I = 0; I < 2; ++I) {
    LLimiter.Error("E", "error", {});
    LLimiter.Message("M", "message", {});
    LLimiter.IntegerValue("V", "value", I);
  }
  Clock().AdvanceSeconds(60);
  LLimiter.Flush();
  EXPECT_EQ(Lines(LFrom), (TLines{{K::Error, "E: 1" + CMore},
                                  {K::Message, "M: 1" + CMore},
                                  {K::Value, "V: not logged in the last interval"}}));
}

using TextLogSinkTest = TLoggerTest;

// One sink writes everything, one from Info on; the indentation of groups holds in both. The log's
// folder name goes beyond ASCII: on Windows it must reach the file system as UTF-16.
TEST_F(TextLogSinkTest, WritesIndentedReadableLinesOfItsLevelAndFlushesWarningsAtOnce) {
  TManualClockScope LClock;
  TTempDir LDir;
  const auto AddFileSink = [](const std::string& AFile, TLogLevel ALevel) {
    auto LSink = std::make_shared<TTextLogSink>(TTextLogSinkOptions{false, AFile, ALevel});
    AddLogSink(LSink);
    return LSink;
  };
  // The start of every line this thread writes while the manual clock stands at its start.
  const auto Prefix = [](const std::string& ALevel) {
    std::ostringstream LThread;
    LThread << std::this_thread::get_id();
    return "2026-03-02 10:00:00.000 " + ALevel + " [" + LThread.str() + "] ";
  };
  const auto Lines = [](std::initializer_list<std::string> ALines) {
    std::string LText;
    for (const std::string& LLine : ALines) LText += LLine + "\n";
    return LText;
  };
  // Entries end in CRLF on Windows.
  const auto ReadLog = [](const std::string& AFile) {
    std::string LText = ReadFile(AFile);
    std::erase(LText, '\r');
    return LText;
  };
  const std::string LFile = LDir.Path() + "/Protokolle-\xC3\xA4\xE6\x96\x87/agent.log";
  const std::string LInfoFile = LDir.Path() + "/info.log";
  auto LSink = AddFileSink(LFile, TLogLevel::Debug);
  auto LInfo = AddFileSink(LInfoFile, TLogLevel::Info);
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
  EXPECT_EQ(ReadLog(LInfoFile), Lines({Prefix("INFO ") + "Agent started", Prefix("INFO ") + "  Queue loaded",
                                       Prefix("WARN ") + "Disk almost full"}));
  Log().LastError("Cannot open queue", ENOENT);
  Log().LogException(EFileError("Queue damaged"), "TJobScheduler.UpdateQueue");
  LSink->Flush();

  const std::string LMore(Prefix("DEBUG").size(), ' ');
  EXPECT_EQ(ReadLog(LFile), Lines({
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
