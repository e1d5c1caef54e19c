#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "LoggerFixture.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/TextLogSink.h"
#include "Support/ClockScope.h"
#include "Support/UmaskScope.h"

namespace Orvane::Testing {
namespace {

std::vector<std::string> ReadLines(const std::filesystem::path& AFile) {
  std::ifstream LStream(AFile);
  std::vector<std::string> LLines;
  for (std::string LLine; std::getline(LStream, LLine);) LLines.push_back(LLine);
  return LLines;
}

unsigned FileMode(const std::filesystem::path& AFile) {
  struct stat LStat {};
  EXPECT_EQ(::stat(AFile.c_str(), &LStat), 0);
  return LStat.st_mode & 07777;
}

class TextLogSinkTest : public TLoggerTest {
protected:
  void SetUp() override {
    TLoggerTest::SetUp();
    FFolder = std::filesystem::path(::testing::TempDir()) /
              ("orvane-textlog-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(FFolder);
  }
  void TearDown() override {
    TLoggerTest::TearDown();
    std::filesystem::remove_all(FFolder);
  }

  std::shared_ptr<TTextLogSink> AddFileSink(const std::filesystem::path& AFile, TLogLevel ALevel) {
    auto LSink = std::make_shared<TTextLogSink>(TTextLogSinkOptions{false, AFile.string(), ALevel});
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
  std::filesystem::path FFolder;
};

TEST_F(TextLogSinkTest, WritesIndentedReadableLines) {
  const std::filesystem::path LFile = FFolder / "logs" / "agent.log";
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
                                      " (" + std::strerror(ENOENT) + ")",
                                  Prefix("ERROR") + "EFileError: Queue damaged (TJobScheduler.UpdateQueue)",
                              }));
}

TEST_F(TextLogSinkTest, LogFileIsForTheOwnerOnly) {
  const std::filesystem::path LNew = FFolder / "new" / "agent.log";
  {
    TUmaskScope LUmask(0);
    AddFileSink(LNew, TLogLevel::Info);
  }
  EXPECT_EQ(FileMode(LNew), 0600u);
  EXPECT_EQ(FileMode(LNew.parent_path()), 0700u);

  const std::filesystem::path LOld = FFolder / "old.log";
  std::ofstream(LOld) << "earlier run\n";
  ASSERT_EQ(::chmod(LOld.c_str(), 0644), 0);
  auto LSink = AddFileSink(LOld, TLogLevel::Info);
  Log().Message("appended");
  LSink->Flush();
  EXPECT_EQ(FileMode(LOld), 0600u);
  const std::vector<std::string> LLines = ReadLines(LOld);
  ASSERT_EQ(LLines.size(), 2u);
  EXPECT_EQ(LLines[0], "earlier run");
}

TEST_F(TextLogSinkTest, WritesOnlyItsLevelAndFlushesWarningsAtOnce) {
  const std::filesystem::path LFile = FFolder / "agent.log";
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
}

TEST_F(TextLogSinkTest, UnusableFileFailsAtConstruction) {
  EXPECT_THROW(TTextLogSink(TTextLogSinkOptions{false, "/dev/null/logs/agent.log", TLogLevel::Info}),
               EFileError);
}

}  // namespace
}  // namespace Orvane::Testing
