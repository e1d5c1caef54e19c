// The control channel under a flood from the agent's own user: connections held open and a stream of
// connections closed at once neither lock ctl out nor fill the log.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "AgentE2ESupport.h"

namespace Orvane::E2E {
namespace {

using namespace std::chrono_literals;

class ControlFloodSlowTest : public AgentE2ETest {
protected:
  // A connection to the control socket made without waiting; -1 while the agent's backlog is full.
  int ConnectNow() const {
    const int LSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un LAddress{};
    LAddress.sun_family = AF_UNIX;
    const std::string LPath = (FDataDir / "control.sock").string();
    std::strncpy(LAddress.sun_path, LPath.c_str(), sizeof(LAddress.sun_path) - 1);
    if (connect(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) != 0) {
      close(LSocket);
      return -1;
    }
    return LSocket;
  }

  static std::size_t LineCount(const std::string& AText) {
    return static_cast<std::size_t>(std::count(AText.begin(), AText.end(), '\n'));
  }
};

TEST_F(ControlFloodSlowTest, HeldAndFloodingConnectionsLeaveCtlAnsweringAndTheLogQuiet) {
  // Real time: the log limiter's minute is a real minute, longer than the flood. An empty job list
  // keeps the agent itself quiet meanwhile.
  const fs::path LJobs = FWorkDir / "jobs.xml";
  WriteFile(LJobs, JobListXml(""));
  TAgentProcess LAgent(FWorkDir, {"run", "--data-dir", FDataDir.string(), "--jobs", LJobs.string(), "--log-level",
                                  "info"});
  ASSERT_TRUE(LAgent.WaitForOutput("tessra-agent running")) << LAgent.Err();
  ASSERT_TRUE(PollFor([&] { return fs::exists(FDataDir / "control.sock"); }));
  ASSERT_EQ(RunCommand(Ctl({"status"}), "first"), 0);
  const std::size_t LLinesBefore = LineCount(LAgent.Err());

  std::atomic<bool> LStop{false};
  std::atomic<long> LFloodConnections{0};
  // Holds 200 connections that never send anything, making a new one for each the agent closes.
  std::thread LHolder([&] {
    std::vector<pollfd> LHeld;
    while (!LStop.load()) {
      while (LHeld.size() < 200) {
        const int LSocket = ConnectNow();
        if (LSocket < 0) break;
        LHeld.push_back({LSocket, POLLIN, 0});
      }
      if (poll(LHeld.data(), LHeld.size(), 10) <= 0) continue;
      std::erase_if(LHeld, [](const pollfd& AHeld) {
        if (AHeld.revents == 0) return false;
        close(AHeld.fd);
        return true;
      });
    }
    for (const pollfd& LHeldOne : LHeld) close(LHeldOne.fd);
  });
  std::thread LFlood([&] {
    while (!LStop.load()) {
      const int LSocket = ConnectNow();
      if (LSocket >= 0) {
        close(LSocket);
        ++LFloodConnections;
      }
    }
  });

  // 20 status calls, one a second, while the flood runs for 20 seconds.
  int LAnswered = 0;
  int64_t LSlowestMs = 0;
  for (int I = 0; I < 20; ++I) {
    const TMonoTime LStart = TClock::RealMonotonic();
    std::string LOut;
    std::string LErr;
    const int LCode = RunCommand(Ctl({"status"}), "status" + std::to_string(I), &LOut, &LErr);
    const int64_t LMs = (TClock::RealMonotonic() - LStart) / 1ms;
    LSlowestMs = std::max(LSlowestMs, LMs);
    if (LCode == 0 && LMs <= 2000 && LOut.find("Job list: ") != std::string::npos) ++LAnswered;
    else ADD_FAILURE() << "status " << I << ": exit code " << LCode << " after " << LMs << " ms: " << LErr;
    PollFor([&] { return TClock::RealMonotonic() - LStart >= 1s; }, 2.0);
  }
  LStop = true;
  LHolder.join();
  LFlood.join();

  EXPECT_EQ(LAnswered, 20) << "slowest answer " << LSlowestMs << " ms";
  EXPECT_GT(LFloodConnections.load(), 1000);
  const std::string LErr = LAgent.Err();
  EXPECT_LE(LineCount(LErr) - LLinesBefore, 10u) << LErr.substr(LErr.size() > 4000 ? LErr.size() - 4000 : 0);
  LAgent.Signal(SIGINT);
  EXPECT_EQ(LAgent.WaitForExit(), 0) << LAgent.Err();
  std::cerr << "flood: " << LFloodConnections.load() << " connections, slowest status " << LSlowestMs << " ms\n";
}

}  // namespace
}  // namespace Orvane::E2E
