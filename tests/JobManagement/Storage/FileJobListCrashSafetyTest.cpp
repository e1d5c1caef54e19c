#include <gtest/gtest.h>
#ifdef _WIN32
// The saver is killed from outside with a signal at random moments: a POSIX process facility.
TEST(FileJobListCrashSafetyTest, KilledSaverLeavesThePreviousOrTheNextCompleteList) {
  GTEST_SKIP() << "kills a child process (linux-only)";
}
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "CrashSaver/CrashSaverJobs.h"
#include "FileJobListTestKit.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

extern char** environ;

namespace Orvane::Testing {
namespace {

constexpr int CKills = 200;
// A bound on a child that stops announcing, so that a hung child fails the test instead of the run.
constexpr int CAnnouncementTimeoutMs = 10000;

// The crash saver, running, with the read end of its announcements.
class TCrashSaverProcess {
public:
  TCrashSaverProcess(const std::string& AProgram, const std::string& AFile, int64_t AFirstGeneration) {
    int LPipe[2];
    if (::pipe2(LPipe, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t LActions;
    posix_spawn_file_actions_init(&LActions);
    posix_spawn_file_actions_adddup2(&LActions, LPipe[1], STDOUT_FILENO);
    const std::string LFirst = std::to_string(AFirstGeneration);
    char* LArgs[] = {const_cast<char*>(AProgram.c_str()), const_cast<char*>(AFile.c_str()),
                     const_cast<char*>(LFirst.c_str()), nullptr};
    if (posix_spawn(&FPid, AProgram.c_str(), &LActions, nullptr, LArgs, environ) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&LActions);
    ::close(LPipe[1]);
    FAnnouncements = LPipe[0];
  }
  ~TCrashSaverProcess() {
    Kill();
    if (FAnnouncements >= 0) ::close(FAnnouncements);
  }

  bool IsRunning() const { return FPid > 0; }

  // The generation of the next completed save; false when none comes within the bound.
  bool NextAnnouncement(int64_t& AGeneration) {
    char* LData = reinterpret_cast<char*>(&AGeneration);
    for (std::size_t LRead = 0; LRead < sizeof AGeneration;) {
      pollfd LPoll{FAnnouncements, POLLIN, 0};
      if (::poll(&LPoll, 1, CAnnouncementTimeoutMs) <= 0) return false;
      const ssize_t LCount = ::read(FAnnouncements, LData + LRead, sizeof AGeneration - LRead);
      if (LCount <= 0) return false;
      LRead += static_cast<std::size_t>(LCount);
    }
    return true;
  }

  void Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

private:
  pid_t FPid = -1;
  int FAnnouncements = -1;
};

// The generation a loaded list belongs to, -1 when it is none of the crash saver's lists.
int64_t GenerationOf(const TJobList& AJobs) {
  if (AJobs.empty()) return -1;
  const int64_t LGeneration = std::strtoll(AJobs[0]->GetIdentifier().c_str() + 1, nullptr, 10);
  const TJobList LExpected = CrashSaverJobs(LGeneration);
  if (LExpected.size() != AJobs.size()) return -1;
  for (std::size_t LIndex = 0; LIndex < AJobs.size(); ++LIndex)
    if (ObjectToXml(*AJobs[LIndex]) != ObjectToXml(*LExpected[LIndex])) return -1;
  return LGeneration;
}

// A saver process is killed at a random moment of its saving, 200 times; the moments come from a
// seeded generator (how many saves to let through, then how long to spin), not from sleeps. After
// every kill the file must hold the list of the last save announced or of the one after it, whole.
TEST(FileJobListCrashSafetyTest, KilledSaverLeavesThePreviousOrTheNextCompleteList) {
  TTempDir LDir("orvane-crash");
  ASSERT_FALSE(LDir.Path().empty());
  const std::string LProgram = GetExecutableDir() + "/ManualJobCrashSaver";
  ASSERT_TRUE(FileExists(LProgram)) << LProgram << " is built beside the tests";
  const std::string LFile = LDir.Path() + "/" + CManualJobsInJobQueueFileName;
  RemoveAllLogSinks();  // two hundred loads, quietly
  TFileJobListSaverNoPermissions(LFile).SaveItems(Sequence(CrashSaverJobs(0)));

  std::mt19937 LRandom(20260302);
  int64_t LOnDisk = 0;
  for (int LKill = 0; LKill < CKills; ++LKill) {
    TCrashSaverProcess LSaver(LProgram, LFile, LOnDisk + 1);
    ASSERT_TRUE(LSaver.IsRunning());
    int64_t LAnnounced = LOnDisk;
    for (int LSave = 1 + static_cast<int>(LRandom() % 3); LSave > 0; --LSave)
      ASSERT_TRUE(LSaver.NextAnnouncement(LAnnounced))
          << "kill " << LKill << ": the saver stopped announcing";
    // Spin, not sleep: the kill lands somewhere inside the saves that follow.
    volatile uint64_t LSpin = 0;
    for (uint64_t LStep = 0, LSpins = LRandom() % 400000; LStep < LSpins; ++LStep) LSpin = LSpin + LStep;
    LSaver.Kill();
    // The saves it completed and announced while nobody was reading.
    for (int64_t LLater; LSaver.NextAnnouncement(LLater);) LAnnounced = LLater;

    const int64_t LFound = GenerationOf(LoadJobs(LFile));
    ASSERT_TRUE(LFound == LAnnounced || LFound == LAnnounced + 1)
        << "kill " << LKill << ": the file holds generation " << LFound << " after " << LAnnounced
        << " was announced";
    LOnDisk = LFound;
  }
}

}  // namespace
}  // namespace Orvane::Testing
#endif
