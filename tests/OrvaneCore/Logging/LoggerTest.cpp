#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "LoggerFixture.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane::Testing {
namespace {

using K = TLogEntryKind;

struct TExpected {
  TLogEntryKind Kind;
  std::string Text;
  int Depth;
  std::string ObjectClass = "";
};

void ExpectEntries(const std::vector<TLogEntry>& AEntries, const std::vector<TExpected>& AExpected) {
  ASSERT_EQ(AEntries.size(), AExpected.size());
  for (size_t LIndex = 0; LIndex < AEntries.size(); ++LIndex) {
    SCOPED_TRACE("entry " + std::to_string(LIndex));
    EXPECT_EQ(AEntries[LIndex].Kind, AExpected[LIndex].Kind);
    EXPECT_EQ(AEntries[LIndex].Text, AExpected[LIndex].Text);
    EXPECT_EQ(AEntries[LIndex].Depth, AExpected[LIndex].Depth);
    EXPECT_EQ(AEntries[LIndex].ObjectClass, AExpected[LIndex].ObjectClass);
    EXPECT_EQ(AEntries[LIndex].ThreadId, std::this_thread::get_id());
  }
}

using LoggerTest = TLoggerTest;

TEST_F(LoggerTest, RecordsTracesGroupsAndFormattedMessagesInOrder) {
  TLoggedJob LJob("Waiting");
  Log().TraceEnter("TJob.Run", &LJob);
  Log().BeginGroup("Update queue");
  Log().Message("Job %s has %d steps", {"Backup", 3});
  Log().BeginGroup("Start jobs");
  Log().Warning("%d%% used on %s", {97, "/var"});
  Log().EndGroup();
  Log().Error("Job %s failed with %d", {std::string("Backup"), -5L});
  Log().EndGroup();
  Log().EndGroup();  // unmatched: must not push later entries out of their depth
  Log().TraceExit("TJob.Run", &LJob);

  ExpectEntries(FRecording->Entries(), {{K::TraceEnter, "TJob.Run", 0, "TLoggedJob"},
                                        {K::GroupBegin, "Update queue", 0},
                                        {K::Message, "Job Backup has 3 steps", 1},
                                        {K::GroupBegin, "Start jobs", 1},
                                        {K::Warning, "97% used on /var", 2},
                                        {K::GroupEnd, "", 1},
                                        {K::Error, "Job Backup failed with -5", 1},
                                        {K::GroupEnd, "", 0},
                                        {K::TraceExit, "TJob.Run", 0, "TLoggedJob"}});
  EXPECT_EQ(FRecording->Entries()[0].ObjectText, "<Job State=\"Waiting\"/>");
}

TEST_F(LoggerTest, ObjectEntriesKeepTheObjectAsItWasWhenLogged) {
  auto LJob = std::make_unique<TLoggedJob>("Running");
  Log().MessageObject("Job started", LJob.get(), 7);
  Log().MessageObject("Job %s at step %d", {"Backup", 2}, LJob.get());
  Log().ObjectValue("Job", LJob.get());
  LJob->SetState("Finished");
  Log().MessageObject("Job done", LJob.get());
  LJob.reset();

  const std::vector<TLogEntry> LEntries = FRecording->Entries();
  ASSERT_EQ(LEntries.size(), 4u);
  EXPECT_EQ(LEntries[0].Kind, K::Object);
  EXPECT_EQ(LEntries[0].Text, "Job started");
  EXPECT_EQ(LEntries[0].ObjectKind, 7);
  EXPECT_EQ(LEntries[1].Text, "Job Backup at step 2");
  EXPECT_EQ(LEntries[1].ObjectKind, 0);
  EXPECT_EQ(LEntries[2].Kind, K::Value);
  EXPECT_EQ(LEntries[2].Text, "Job");
  for (int LIndex = 0; LIndex < 3; ++LIndex) {
    EXPECT_EQ(LEntries[LIndex].ObjectClass, "TLoggedJob");
    EXPECT_EQ(LEntries[LIndex].ObjectText, "<Job State=\"Running\"/>");
  }
  EXPECT_EQ(LEntries[3].ObjectText, "<Job State=\"Finished\"/>");
}

TEST_F(LoggerTest, NamedValuesAreRecordedAsText) {
  const TDateTime LTime = EncodeDateTime(2026, 12, 6, 16, 50, 0, 123);
  Log().StringValue("Name", "Backup");
  Log().IntegerValue("Size", -9223372036854775807LL - 1);
  Log().BooleanValue("Enabled", true);
  Log().BooleanValue("Paused", false);
  Log().DateTimeValue("Due", LTime);
  Log().ObjectValue("Owner", nullptr);
  Log().StringsValue("Steps", {"copy", "verify", ""});
  Log().StringsValue("None", {});

  const std::vector<TLogEntry> LEntries = FRecording->Entries();
  std::vector<std::pair<std::string, std::string>> LValues;
  for (const TLogEntry& LEntry : LEntries) {
    EXPECT_EQ(LEntry.Kind, K::Value);
    LValues.emplace_back(LEntry.Text, LEntry.Value);
  }
  EXPECT_EQ(LValues, (std::vector<std::pair<std::string, std::string>>{{"Name", "Backup"},
                                                                       {"Size", "-9223372036854775808"},
                                                                       {"Enabled", "true"},
                                                                       {"Paused", "false"},
                                                                       {"Due", "2026-12-06 16:50:00.123"},
                                                                       {"Owner", "(null)"},
                                                                       {"Steps", "copy\nverify\n"},
                                                                       {"None", ""}}));
}

TEST_F(LoggerTest, FileContentIsReadWhenLoggedAndBounded) {
  const std::filesystem::path LFolder =
      std::filesystem::path(::testing::TempDir()) / ("orvane-logger-" + std::to_string(::getpid()));
  std::filesystem::create_directories(LFolder);
  const std::string LSmall = (LFolder / "small.conf").string();
  const std::string LLarge = (LFolder / "large.conf").string();
  std::ofstream(LSmall) << "Interval=5\nRetries=2\n";
  std::ofstream(LLarge) << std::string(200 * 1024, 'x');

  Log().FileContentValue("Config", LSmall);
  std::ofstream(LSmall) << "changed later";
  Log().FileContentValue("Large", LLarge);
  Log().FileContentValue("Missing", (LFolder / "missing.conf").string());
  std::filesystem::remove_all(LFolder);

  const std::vector<TLogEntry> LEntries = FRecording->Entries();
  ASSERT_EQ(LEntries.size(), 3u);
  EXPECT_EQ(LEntries[0].Value, "Interval=5\nRetries=2\n");
  EXPECT_EQ(LEntries[1].Value.substr(0, 64 * 1024), std::string(64 * 1024, 'x'));
  EXPECT_LT(LEntries[1].Value.size(), 65 * 1024u);
  EXPECT_NE(LEntries[1].Value.find("goes on beyond"), std::string::npos);
  EXPECT_EQ(LEntries[2].ErrorCode, ENOENT);
  EXPECT_NE(LEntries[2].Value.find("missing.conf"), std::string::npos);
  EXPECT_NE(LEntries[2].Value.find(std::strerror(ENOENT)), std::string::npos);
}

// How the text sink shows the last error and an exception is tested with it; here what only the
// entries carry.
TEST_F(LoggerTest, ExceptionsCarryTheirClassAndErrorCode) {
  Log().LogException(EOSError("fork failed", EAGAIN), "TProcess.Start");
  Log().LogException(std::runtime_error("plain"), "");

  const std::vector<TLogEntry> LEntries = FRecording->Entries();
  ASSERT_EQ(LEntries.size(), 2u);
  EXPECT_EQ(LEntries[0].ExceptionClass, "EOSError");
  EXPECT_EQ(LEntries[0].ErrorCode, EAGAIN);
  EXPECT_EQ(LEntries[1].ExceptionClass, "Exception");
  EXPECT_EQ(LEntries[1].Text, "plain");
}

TEST_F(LoggerTest, MismatchedFormatsKeepTextAndArgumentsWithoutThrowing) {
  EXPECT_EQ(FormatLogText("%s took %.1f s, %u left, %ld done", {"copy", 2.5, 3u, 7L}),
            "copy took 2.5 s, 3 left, 7 done");
  EXPECT_EQ(FormatLogText("100%", {}), "100%");
  EXPECT_NO_THROW(Log().Message("Step %d", {"abc"}));
  EXPECT_NO_THROW(Log().Error("%s %s %d", {"only one"}));
  EXPECT_NO_THROW(Log().MessageObject("%q", {1}, nullptr));
  EXPECT_EQ(FRecording->Texts(K::Message), std::vector<std::string>{"Step %d [abc]"});
  EXPECT_EQ(FRecording->Texts(K::Error), std::vector<std::string>{"%s %s %d [only one]"});
  EXPECT_EQ(FRecording->IndexOf(K::Object, "%q", 3), -1);
  EXPECT_EQ(FRecording->IndexOf(K::Object, "%q"), 2);
}

// A sink with a chosen level that records without object text.
class TLevelSink : public TRecordingLogSink {
public:
  explicit TLevelSink(TLogLevel ALevel) : FLevel(ALevel) {}
  TLogLevel Level() const override { return FLevel; }
  bool WantsObjectText() const override { return false; }

private:
  TLogLevel FLevel;
};

// Counts how often the logger asks it for its class name and text.
class TCountedObject : public TOrvaneObject {
public:
  std::string ClassName() const override {
    ++FAsked;
    return "TCountedObject";
  }
  std::string LogText() const override {
    ++FAsked;
    return "text";
  }
  mutable int FAsked = 0;
};

TEST_F(LoggerTest, SinkLevelsDecideWhatIsBuiltAndWritten) {
  RemoveAllLogSinks();
  EXPECT_FALSE(Log().IsActive());
  auto LWarnings = std::make_shared<TLevelSink>(TLogLevel::Warning);
  AddLogSink(LWarnings);
  auto LInfo = std::make_shared<TLevelSink>(TLogLevel::Info);
  AddLogSink(LInfo);
  AddLogSink(LInfo);  // a second add is ignored
  EXPECT_FALSE(Log().IsActive());

  TCountedObject LObject;
  Log().MessageObject("not built", &LObject);
  Log().ObjectValue("not built", &LObject);
  Log().TraceEnter("not built", &LObject);
  EXPECT_EQ(LObject.FAsked, 0);
  Log().Message("info");
  Log().Warning("warning");
  EXPECT_EQ(LWarnings->Texts(K::Message).size(), 0u);
  EXPECT_EQ(LWarnings->Count(K::Warning), 1);
  EXPECT_EQ(LInfo->Entries().size(), 2u);

  auto LDebug = std::make_shared<TLevelSink>(TLogLevel::Debug);
  AddLogSink(LDebug);
  EXPECT_TRUE(Log().IsActive());
  Log().MessageObject("built", &LObject);
  ASSERT_EQ(LDebug->Entries().size(), 1u);
  EXPECT_EQ(LDebug->Entries()[0].ObjectClass, "TCountedObject");
  EXPECT_EQ(LDebug->Entries()[0].ObjectText, "");  // no sink wants it
  EXPECT_EQ(LObject.FAsked, 1);
  EXPECT_EQ(LInfo->Count(K::Object), 0);

  RemoveLogSink(LDebug);
  EXPECT_FALSE(Log().IsActive());
  AddLogSink(std::make_shared<TLevelSink>(TLogLevel::Trace));
  EXPECT_TRUE(Log().IsActive());
  RemoveAllLogSinks();
  EXPECT_FALSE(Log().IsActive());
  EXPECT_NO_THROW(Log().Error("nowhere"));
}

class TFailingObject : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TFailingObject"; }
  std::string LogText() const override { throw EInvalidOperation("no text"); }
};

// Throws on every entry, and logs from inside Write.
class TFailingSink : public TRecordingLogSink {
public:
  void Write(const TLogEntry& AEntry) override {
    TRecordingLogSink::Write(AEntry);
    OrvaneLogger()->Message("from inside a sink");
    throw std::runtime_error("sink broken");
  }
};

TEST_F(LoggerTest, FailingObjectsAndSinksNeverReachTheCaller) {
  auto LFailing = std::make_shared<TFailingSink>();
  RemoveAllLogSinks();
  AddLogSink(LFailing);
  AddLogSink(FRecording);

  TFailingObject LObject;
  EXPECT_NO_THROW(Log().MessageObject("Job state", &LObject));
  EXPECT_NO_THROW(Log().Message("next"));

  EXPECT_EQ(FRecording->Texts(K::Message), std::vector<std::string>{"next"});
  ASSERT_EQ(FRecording->Count(K::Object, "Job state"), 1);
  const TLogEntry LEntry = FRecording->Entries()[FRecording->IndexOf(K::Object, "Job state")];
  EXPECT_EQ(LEntry.ObjectClass, "TFailingObject");
  EXPECT_NE(LEntry.Value.find("no text"), std::string::npos);
  EXPECT_EQ(LFailing->Entries().size(), 2u);
}

}  // namespace
}  // namespace Orvane::Testing
