// What an acknowledged enqueue is worth: the agent killed at any moment, the data directory's file
// system full. Success from ctl means the job is on disk, and nothing is on disk twice.

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <regex>

#include "AgentE2ESupport.h"

namespace Orvane::E2E {
namespace {

const std::string CComputerScannerTaskId(CComputerScannerId);

// A tmpfs of ASize mounted over ADirectory for the object's life; unmounted on every way out.
class TTmpfsMount {
public:
  TTmpfsMount(const fs::path& ADirectory, const std::string& ASize) : FDirectory(ADirectory) {
    fs::create_directories(ADirectory);
    // The data directory must be owner-only, or the agent refuses it.
    const std::string LOptions = "size=" + ASize + ",mode=0700";
    if (mount("tmpfs", ADirectory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, LOptions.c_str()) == 0)
      FMounted = true;
    else
      FError = std::strerror(errno);
  }
  ~TTmpfsMount() {
    if (FMounted) umount2(FDirectory.c_str(), MNT_DETACH);
  }
  TTmpfsMount(const TTmpfsMount&) = delete;
  TTmpfsMount& operator=(const TTmpfsMount&) = delete;

  bool Mounted() const { return FMounted; }
  const std::string& Error() const { return FError; }

private:
  const fs::path FDirectory;
  bool FMounted = false;
  std::string FError;
};

class AgentDurabilitySlowTest : public AgentE2ETest {
protected:
  // An agent on the real clock whose job list holds only the settings watch: nothing runs on its
  // own during the test, and the list it fetched shows one automatic job.
  std::vector<std::string> QuietRunArguments(std::vector<std::string> AExtra = {}) {
    const fs::path LJobs = FWorkDir / "jobs.xml";
    if (!fs::exists(LJobs)) WriteFile(LJobs, JobListXml(SettingsWatchXml()));
    std::vector<std::string> LArgs = {"run",          "--data-dir",  FDataDir.string(), "--jobs",
                                      LJobs.string(), "--log-level", "warning"};
    LArgs.insert(LArgs.end(), AExtra.begin(), AExtra.end());
    return LArgs;
  }

  // Whether an agent listens on the control socket (a dead agent's socket file refuses).
  bool ControlReady() const {
    const int LSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un LAddress{};
    LAddress.sun_family = AF_UNIX;
    std::strncpy(LAddress.sun_path, (FDataDir / "control.sock").c_str(), sizeof(LAddress.sun_path) - 1);
    const bool LConnected =
        connect(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) == 0;
    close(LSocket);
    return LConnected;
  }

  // ctl status once the first fetch took the stored manual jobs over; "" when it never did.
  std::string StatusAfterFirstFetch() {
    std::string LStatus;
    PollFor([&] {
      return ControlReady() && RunCommand(Ctl({"status"}), "status", &LStatus) == 0 &&
             LStatus.find(", 0 automatic") == std::string::npos;
    });
    return LStatus;
  }

  static int ManualJobCount(const std::string& AStatus) {
    std::smatch LMatch;
    return std::regex_search(AStatus, LMatch, std::regex("Job list: (\\d+) manual")) ? std::stoi(LMatch[1])
                                                                                     : -1;
  }

  int SavedManualJobCount() const {
    const std::string LFile = ReadFile(FDataDir / "Orvane/Tessra/AgentTasks/ManualJobsInJobListProvider.xml");
    int LCount = 0;
    for (std::size_t LAt = LFile.find("<TJob>"); LAt != std::string::npos;
         LAt = LFile.find("<TJob>", LAt + 1))
      ++LCount;
    return LCount;
  }

  // Enqueues the computer scanner ten hours ahead, so that the job stays in the list, countable.
  std::vector<std::string> DelayedEnqueue() const {
    return Ctl({"enqueue", CComputerScannerTaskId, "--delay-minutes", "600"});
  }
};

// Agents killed with SIGKILL while ctl enqueues: every enqueue that answered success is there after
// the restart, and no job is there twice. Every other agent is killed before its first turn, while
// the stored jobs are only in the file its enqueues rewrite.
TEST_F(AgentDurabilitySlowTest, KilledAgentsLoseNoAcknowledgedEnqueueAndDoubleNone) {
  constexpr int CKills = 100;
  std::mt19937 LRandom(std::random_device{}());
  int LAcknowledged = 0;
  int LUnanswered = 0;
  for (int LKill = 0; LKill < CKills; ++LKill) {
    SCOPED_TRACE("kill " + std::to_string(LKill));
    TAgentProcess LAgent(FWorkDir,
                         QuietRunArguments(LKill % 2 == 0 ? std::vector<std::string>{"--start-delay", "60"}
                                                          : std::vector<std::string>{}));
    ASSERT_TRUE(PollFor([&] { return ControlReady(); })) << LAgent.Err();
    // One enqueue to its end, which also shows how long one takes here (polled, so rather more);
    // the next one is cut off at a random point within half that time.
    const TMonoTime LStart = TClock::RealMonotonic();
    TAgentProcess LWhole(FWorkDir, DelayedEnqueue(), "ctl-whole");
    ASSERT_EQ(LWhole.WaitForExit(), 0) << LWhole.Err();
    ++LAcknowledged;
    const auto LTook =
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::RealMonotonic() - LStart);
    TAgentProcess LCut(FWorkDir, DelayedEnqueue(), "ctl-cut");
    Clock().SleepMs(std::uniform_int_distribution<int64_t>(0, LTook.count() / 2)(LRandom));
    LAgent.Signal(SIGKILL);
    LAgent.WaitForExit();
    const int LCode = LCut.WaitForExit();
    if (LCode == 0)
      ++LAcknowledged;
    else if (LCode == 1)
      ++LUnanswered;
    else
      ADD_FAILURE() << "ctl exited with " << LCode << ": " << LCut.Err();
  }
  // Kills cut enqueues short often enough for the loop to mean something.
  EXPECT_GE(LUnanswered, CKills / 20);

  TAgentProcess LAgent(FWorkDir, QuietRunArguments(), "final");
  const std::string LStatus = StatusAfterFirstFetch();
  const int LHeld = ManualJobCount(LStatus);
  // An enqueue that saved its job but was killed before it answered may be there too, once.
  EXPECT_GE(LHeld, LAcknowledged) << LStatus;
  EXPECT_LE(LHeld, LAcknowledged + LUnanswered) << LStatus;
  LAgent.Signal(SIGINT);
  ASSERT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_EQ(SavedManualJobCount(), LHeld);
}

// With the data directory's file system full, ctl never acknowledges a job that is not saved and
// says why; once there is room again, the next enqueue saves without a restart, exactly one job.
TEST_F(AgentDurabilitySlowTest, FullDiskIsNeverAcknowledgedAndTheNextSaveAfterRoomReturnsSucceeds) {
  TTmpfsMount LMount(FDataDir, "1m");
  if (!LMount.Mounted()) {
    if (std::getenv("CI")) FAIL() << "cannot mount a tmpfs on " << FDataDir << ": " << LMount.Error();
    GTEST_SKIP() << "cannot mount a tmpfs on " << FDataDir << ": " << LMount.Error();
  }
  // Declared after the mount: it is stopped before the file system goes.
  TAgentProcess LAgent(FWorkDir, QuietRunArguments());
  ASSERT_EQ(ManualJobCount(StatusAfterFirstFetch()), 0) << LAgent.Err();

  const fs::path LFiller = FDataDir / "filler";
  {
    std::ofstream LFill(LFiller, std::ios::binary);
    const std::string LChunk(64 * 1024, 'x');
    while (LFill.write(LChunk.data(), static_cast<std::streamsize>(LChunk.size()))) LFill.flush();
  }
  std::string LErr;
  EXPECT_EQ(RunCommand(DelayedEnqueue(), "full", nullptr, &LErr), 1);
  EXPECT_NE(LErr.find("is not enqueued: it could not be saved: No space left on device"), std::string::npos)
      << LErr;
  EXPECT_EQ(RunCommand(Ctl({"enqueue-all"}), "full-all", nullptr, &LErr), 1);
  EXPECT_NE(LErr.find("No scanner is enqueued: the jobs could not be saved: No space left on device"),
            std::string::npos)
      << LErr;
  std::string LStatus;
  ASSERT_EQ(RunCommand(Ctl({"status"}), "status-full", &LStatus), 0);
  EXPECT_EQ(ManualJobCount(LStatus), 0) << LStatus;

  fs::remove(LFiller);
  EXPECT_EQ(RunCommand(DelayedEnqueue(), "room"), 0);
  ASSERT_EQ(RunCommand(Ctl({"status"}), "status-room", &LStatus), 0);
  EXPECT_EQ(ManualJobCount(LStatus), 1) << LStatus;
  EXPECT_EQ(SavedManualJobCount(), 1);
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  EXPECT_EQ(SavedManualJobCount(), 1);
}

}  // namespace
}  // namespace Orvane::E2E
