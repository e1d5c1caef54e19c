#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "LoggerFixture.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/TextLogSink.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "Support/ClockScope.h"
#include "Support/TempDir.h"

namespace Orvane::Testing {
namespace {

std::vector<std::string> ReadLines(const std::string& AFile) {
  std::ifstream LStream(AFile);
  std::vector<std::string> LLines;
  for (std::string LLine; std::getline(LStream, LLine);) LLines.push_back(LLine);
  return LLines;
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

  TManualClockScope FClock;
  TTempDir FDir;
};

TEST_F(TextLogSinkTest, WritesIndentedReadableLines) {
  const std::string LFile = FDir.Path() + "/logs/agent.log";
  auto LSink = AddFileSink(LFile, TLogLevel::Debug);
  TLoggedJob LJob("Waiting");

  Log().Message("Agent started");
  Log().BeginGroup("Update queue");
  Log().IntegerValue("Jobs", 2);
  Log().StringValue("Next", "Backup");
  Log().StringsValue("Steps", {"copy", "verify"});
  Log().MessageObject("Job added", &LJob);
  Log().TraceEnter("TJob.Run");
  Log().EndGroup();
  Log().EndGroup();  // unmatched: must not push later lines out of their depth
  Log().LastError("Cannot open queue", ENOENT);
  Log().LogException(EFileError("Queue damaged"), "TJobScheduler.UpdateQueue");
  LSink->Flush();

  const std::string LMore(Prefix("DEBUG").size(), ' ');
  EXPECT_EQ(ReadLines(LFile), (std::vector<std::string>{
                                  Prefix("INFO ") + "Agent started",
                                  Prefix("DEBUG") + "Update queue {",
                                  Prefix("DEBUG") + "  Jobs = 2",
                                  Prefix("DEBUG") + "  Next = Backup",
                                  Prefix("DEBUG") + "  Steps =",
                                  LMore + "      copy",
                                  LMore + "      verify",
                                  Prefix("DEBUG") + "  Job added [TLoggedJob]",
                                  LMore + "      <Job State=\"Waiting\"/>",
                                  Prefix("DEBUG") + "}",
                                  Prefix("ERROR") + "Cannot open queue: error " + std::to_string(ENOENT) +
                                      " (" + OSErrorText(ENOENT) + ")",
                                  Prefix("ERROR") + "EFileError: Queue damaged (TJobScheduler.UpdateQueue)",
                              }));
}

TEST_F(TextLogSinkTest, WritesOnlyItsLevelAndFlushesWarningsAtOnce) {
  const std::string LFile = FDir.Path() + "/agent.log";
  auto LSink = AddFileSink(LFile, TLogLevel::Info);
  EXPECT_FALSE(LSink->WantsObjectText());
  Log().TraceEnter("TJob.Run");
  Log().IntegerValue("Jobs", 2);
  Log().BeginGroup("Update queue");
  Log().Message("Queue loaded");
  Log().EndGroup();
  TLogEntry LDebugEntry;
  LDebugEntry.Kind = TLogEntryKind::Value;
  LDebugEntry.Text = "written directly";
  LSink->Write(LDebugEntry);
  Log().Warning("Disk almost full");
  // No Flush: the warning pushed out what was buffered before it.
  EXPECT_EQ(ReadLines(LFile), (std::vector<std::string>{Prefix("INFO ") + "  Queue loaded",
                                                        Prefix("WARN ") + "Disk almost full"}));
  EXPECT_THROW(TTextLogSink(TTextLogSinkOptions{false, "/dev/null/logs/agent.log", TLogLevel::Info}),
               EFileError);
}

}  // namespace
}  // namespace Orvane::Testing
