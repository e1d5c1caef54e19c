#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "Control/ControlClient.h"
#include "Control/ControlServer.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Time/Clock.h"
#include "Support/LogCapture.h"
#include "Support/ClockScope.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using namespace std::chrono_literals;

// Echoes the request as "command|arg|arg"; "big" answers a text larger than a socket buffer,
// "throw" throws.
TControlAnswer EchoHandler(const TControlRequest& ARequest) {
  if (ARequest.Command == "big") return {true, std::string(3 * 1024 * 1024, 'b') + "\nend"};
  if (ARequest.Command == "throw") throw EInvalidOperation("no job named " + ARequest.Arguments.at(0));
  std::string LText = ARequest.Command;
  for (const std::string& LArgument : ARequest.Arguments) LText += "|" + LArgument;
  return {true, LText};
}

int64_t RealMsSince(TMonoTime AStart) {
  return (TClock::RealMonotonic() - AStart) / 1ms;
}

// A peer that speaks raw bytes.
class TRawPeer {
public:
  explicit TRawPeer(const std::string& APath) : FFd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_un LAddress = ControlSocketAddress(APath);
    FConnected = connect(FFd, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) == 0;
  }
  ~TRawPeer() { close(FFd); }
  bool Connected() const { return FConnected; }
  // Sends what the socket takes until the agent closes its side.
  void SendAll(const std::string& ABytes) {
    for (std::size_t LSent = 0; LSent < ABytes.size();) {
      const ssize_t LCount = send(FFd, ABytes.data() + LSent, ABytes.size() - LSent, MSG_NOSIGNAL);
      if (LCount <= 0) return;
      LSent += static_cast<std::size_t>(LCount);
    }
  }
  // Whether the agent has sent something or closed, without waiting.
  bool HasNews() {
    pollfd LFd{FFd, POLLIN, 0};
    return poll(&LFd, 1, 0) > 0;
  }
  // Everything the agent sends until it closes the connection, waiting at most AMaxMs of real time;
  // nullopt when it did not close by then.
  std::optional<std::string> ReadUntilClosed(int AMaxMs = 10000) {
    const TMonoTime LDeadline = TClock::RealMonotonic() + std::chrono::milliseconds(AMaxMs);
    std::string LBytes;
    for (;;) {
      pollfd LFd{FFd, POLLIN, 0};
      const int LLeft = static_cast<int>((LDeadline - TClock::RealMonotonic()) / 1ms);
      if (LLeft <= 0 || poll(&LFd, 1, LLeft) <= 0) return std::nullopt;
      char LBuffer[4096];
      const ssize_t LCount = recv(FFd, LBuffer, sizeof(LBuffer), 0);
      if (LCount <= 0) return LBytes;  // closed (or reset once the agent dropped unread input)
      LBytes.append(LBuffer, static_cast<std::size_t>(LCount));
    }
  }

private:
  int FFd;
  bool FConnected = false;
};

TControlAnswer ParseAnswer(const std::string& ABytes) {
  TControlAnswerReader LReader;
  EXPECT_EQ(LReader.Feed(ABytes), ABytes.size());
  EXPECT_TRUE(LReader.IsComplete()) << ABytes.substr(0, 100);
  return LReader.GetAnswer();
}

class ControlServerTest : public ::testing::Test {
protected:
  Testing::TTempDir FDir{"ctl"};
  std::string FPath = ControlSocketPath(FDir.Path());
  Testing::TLogCapture FLog;

  void SetUp() override {
    ASSERT_FALSE(FDir.Path().empty());
  }
};

TEST_F(ControlServerTest, AnswersThroughARealSocketThatOnlyItsOwnerMayOpen) {
  TControlServer LServer(FPath, EchoHandler);
  LServer.Start();
  struct stat LStat {};
  ASSERT_EQ(lstat(FPath.c_str(), &LStat), 0);
  EXPECT_TRUE(S_ISSOCK(LStat.st_mode));
  EXPECT_EQ(LStat.st_mode & 07777, 0600u);

  const TControlAnswer LAnswer =
      TControlClient::Send(FPath, {"enqueue", {"Computer Scanner", "", "a\tb\nc\\"}});
  EXPECT_EQ(LAnswer, (TControlAnswer{true, "enqueue|Computer Scanner||a\tb\nc\\"}));
  // An answer larger than the socket buffer is delivered in rounds.
  const TControlAnswer LBig = TControlClient::Send(FPath, {"big", {}});
  EXPECT_EQ(LBig.Text.size(), 3u * 1024 * 1024 + 4);
  EXPECT_TRUE(LBig.Text.ends_with("b\nend"));

  const TControlAnswer LThrown = TControlClient::Send(FPath, {"throw", {"Nightly"}});
  EXPECT_EQ(LThrown, (TControlAnswer{false, "no job named Nightly"}));
  TRawPeer LGarbage(FPath);
  LGarbage.SendAll("enqueue\tbad\\q\n");
  EXPECT_EQ(ParseAnswer(LGarbage.ReadUntilClosed().value()), (TControlAnswer{false, "malformed request"}));

  LServer.Stop();
  EXPECT_NE(lstat(FPath.c_str(), &LStat), 0);
}

TEST_F(ControlServerTest, ReplacesADeadAgentsSocketButNeitherALiveOneNorAFile) {
  {
    const int LDead = socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un LAddress = ControlSocketAddress(FPath);
    ASSERT_EQ(bind(LDead, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)), 0);
    close(LDead);  // the file stays, nobody listens
  }
  EXPECT_THROW(TControlClient::Send(FPath, {"status", {}}), EControlNotRunning);
  TControlServer LServer(FPath, EchoHandler);
  LServer.Start();
  EXPECT_TRUE(TControlClient::Send(FPath, {"status", {}}).Ok);

  TControlServer LSecond(FPath, EchoHandler);
  EXPECT_THROW(LSecond.Start(), EInvalidOperation);
  EXPECT_TRUE(TControlClient::Send(FPath, {"status", {}}).Ok);

  const std::string LFile = FDir.Path() + "/not-a-socket";
  std::ofstream(LFile) << "keep me";
  TControlServer LOnFile(LFile, EchoHandler);
  EXPECT_THROW(LOnFile.Start(), EFileError);
  std::string LContent;
  std::getline(std::ifstream(LFile), LContent);
  EXPECT_EQ(LContent, "keep me");
}

TEST_F(ControlServerTest, ASilentPeerDelaysNobodyAndIsClosedAfterASecondInRealTime) {
  // A frozen manual clock: the idle deadline must run on real time all the same.
  Testing::TManualClockScope LClock;
  TControlServer LServer(FPath, EchoHandler);
  LServer.Start();
  const TMonoTime LStart = TClock::RealMonotonic();
  TRawPeer LSilent(FPath);
  ASSERT_TRUE(LSilent.Connected());
  for (int I = 0; I < 5; ++I)
    EXPECT_EQ(TControlClient::Send(FPath, {"status", {std::to_string(I)}}).Text,
              "status|" + std::to_string(I));
  const bool LClosedEarly = LSilent.HasNews();
  if (RealMsSince(LStart) < 900) {
    EXPECT_FALSE(LClosedEarly) << "closed before its idle time";
  }
  EXPECT_EQ(LSilent.ReadUntilClosed(), "");
  EXPECT_GE(RealMsSince(LStart), 900);
  EXPECT_LT(RealMsSince(LStart), 3000);
}

TEST_F(ControlServerTest, AFloodWithoutALineEndIsRefusedWhileOthersAreServed) {
  TControlServer LServer(FPath, EchoHandler);
  LServer.Start();
  TRawPeer LFlood(FPath);
  ASSERT_TRUE(LFlood.Connected());
  std::thread LWriter([&] { LFlood.SendAll(std::string(1024 * 1024, 'g')); });
  EXPECT_EQ(TControlClient::Send(FPath, {"status", {}}).Text, "status");
  const std::optional<std::string> LBytes = LFlood.ReadUntilClosed();
  LWriter.join();
  ASSERT_TRUE(LBytes);
  const TControlAnswer LAnswer = ParseAnswer(*LBytes);
  EXPECT_FALSE(LAnswer.Ok);
  EXPECT_EQ(LAnswer.Text, "request too long: more than 65536 bytes");
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning, "is longer than 65536 bytes; refused"));
  EXPECT_EQ(TControlClient::Send(FPath, {"status", {}}).Text, "status");
}

TEST_F(ControlServerTest, FiftyPeersAtOnceAllGetTheirOwnAnswers) {
  TControlServer LServer(FPath, EchoHandler);
  LServer.Start();
  std::atomic<int> LRight{0};
  std::vector<std::thread> LPeers;
  for (int I = 0; I < 50; ++I)
    LPeers.emplace_back([&, I] {
      const TControlAnswer LAnswer = TControlClient::Send(FPath, {"pull", {std::to_string(I)}}, 30000);
      if (LAnswer == TControlAnswer{true, "pull|" + std::to_string(I)}) ++LRight;
    });
  for (std::thread& LPeer : LPeers) LPeer.join();
  EXPECT_EQ(LRight.load(), 50);
}

TEST_F(ControlServerTest, AFullTableClosesItsLongestIdlePeerAndIsBusyOnlyWhileAnswering) {
  TLogLimiter LLimiter;
  TControlServer LServer(FPath, EchoHandler, {.IdleMs = 60000, .MaxClients = 2}, LLimiter);
  LServer.Start();
  // Connections are accepted in the order they were made.
  TRawPeer LOldest(FPath), LNewer(FPath);
  ASSERT_TRUE(LOldest.Connected() && LNewer.Connected());
  EXPECT_EQ(TControlClient::Send(FPath, {"status", {}}).Text, "status");
  EXPECT_EQ(LOldest.ReadUntilClosed(), "");
  EXPECT_FALSE(LNewer.HasNews());

  // Two peers that do not take their large answers hold both slots: nobody idle is left to close.
  TRawPeer LSlowA(FPath);
  LSlowA.SendAll("big\n");
  TRawPeer LSlowB(FPath);
  LSlowB.SendAll("big\n");
  for (int I = 0; I < 3; ++I) {
    const TControlAnswer LAnswer = TControlClient::Send(FPath, {"status", {}});
    EXPECT_FALSE(LAnswer.Ok);
    EXPECT_NE(LAnswer.Text.find("busy"), std::string::npos) << LAnswer.Text;
  }
  EXPECT_EQ(LNewer.ReadUntilClosed(), "");
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, "connections are being answered"), 1);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, "idle longest, is closed for a new one"), 1);
}

TEST_F(ControlServerTest, AClientWhoseConnectionGaveWayUnreadSendsItsRequestAgain) {
  // An agent by hand: it closes the first connection without reading it, as a flooded agent does
  // with its idle connections, and answers the second.
  const int LListen = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un LAddress = ControlSocketAddress(FPath);
  ASSERT_EQ(bind(LListen, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)), 0);
  ASSERT_EQ(listen(LListen, 4), 0);
  std::thread LAgent([&] {
    close(accept(LListen, nullptr, nullptr));
    const int LSecond = accept(LListen, nullptr, nullptr);
    if (LSecond < 0) return;  // the client gave up
    char LLine[64];
    [[maybe_unused]] const ssize_t LRead = recv(LSecond, LLine, sizeof(LLine), 0);
    const std::string LAnswer = EncodeAnswer({true, "second"});
    [[maybe_unused]] const ssize_t LSent = send(LSecond, LAnswer.data(), LAnswer.size(), MSG_NOSIGNAL);
    close(LSecond);
  });
  try {
    EXPECT_EQ(TControlClient::Send(FPath, {"status", {}}, 5000), (TControlAnswer{true, "second"}));
  } catch (const std::exception& E) {
    ADD_FAILURE() << E.what();
  }
  shutdown(LListen, SHUT_RDWR);  // ends a wait for a second connection that never came
  LAgent.join();
  close(LListen);
}

TEST_F(ControlServerTest, StopWithPeersConnectedIsPromptAndClosesThem) {
  TControlServer LServer(FPath, EchoHandler, {.IdleMs = 60000});
  LServer.Start();
  std::vector<std::unique_ptr<TRawPeer>> LPeers;
  for (int I = 0; I < 3; ++I) LPeers.push_back(std::make_unique<TRawPeer>(FPath));
  LPeers[0]->SendAll("status\tno line end yet");
  EXPECT_TRUE(TControlClient::Send(FPath, {"status", {}}).Ok);  // all three are in by now
  const TMonoTime LStart = TClock::RealMonotonic();
  LServer.Stop();
  EXPECT_LT(RealMsSince(LStart), 2000);
  for (auto& LPeer : LPeers) EXPECT_TRUE(LPeer->ReadUntilClosed(2000));
  EXPECT_THROW(TControlClient::Send(FPath, {"status", {}}), EControlNotRunning);
}

TEST_F(ControlServerTest, AStopAskedForByTheHandlerStillDeliversItsAnswer) {
  TControlServer* LSelf = nullptr;
  TControlServer LServer(FPath, [&](const TControlRequest&) {
    LSelf->Stop();
    return TControlAnswer{true, "stopping"};
  });
  LSelf = &LServer;
  LServer.Start();
  EXPECT_EQ(TControlClient::Send(FPath, {"stop", {}}), (TControlAnswer{true, "stopping"}));
  LServer.Stop();
  EXPECT_THROW(TControlClient::Send(FPath, {"status", {}}), EControlNotRunning);
}

TEST_F(ControlServerTest, WithoutAnAgentTheClientSaysSoClearly) {
  try {
    TControlClient::Send(FPath, {"status", {}});
    FAIL() << "no exception";
  } catch (const EControlNotRunning& E) {
    EXPECT_EQ(std::string(E.what()), "no tessra-agent is running on " + FDir.Path());
  }
  const std::string LLong = FDir.Path() + "/" + std::string(110, 'd') + "/control.sock";
  EXPECT_THROW(TControlClient::Send(LLong, {"status", {}}), EArgumentException);
  TControlServer LServer(LLong, EchoHandler);
  EXPECT_THROW(LServer.Start(), EArgumentException);
}

}  // namespace
}  // namespace Orvane
