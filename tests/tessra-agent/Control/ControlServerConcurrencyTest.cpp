#include <gmock/gmock.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Control/ControlClient.h"
#include "Control/ControlServer.h"
#include "OrvaneCore/Time/Clock.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"
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

int64_t RealMsSince(TMonoTime AStart) { return (TClock::RealMonotonic() - AStart) / 1ms; }

// A Unix stream socket at APath, connected as a client or bound (nobody listens yet); not open when
// that failed.
TFileHandle SocketAt(const std::string& APath, bool ABind) {
  TFileHandle LSocket(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_un LAddress = ControlSocketAddress(APath);
  const auto* LAny = reinterpret_cast<const sockaddr*>(&LAddress);
  if ((ABind ? bind : connect)(LSocket.Get(), LAny, sizeof(LAddress)) != 0) LSocket.Reset();
  return LSocket;
}

// A peer that speaks raw bytes.
struct TRawPeer {
  explicit TRawPeer(const std::string& APath) : Fd(SocketAt(APath, false)) {}
  // Sends what the socket takes until the agent closes its side.
  void SendAll(const std::string& ABytes) {
    ssize_t LCount = 0;
    for (std::size_t LSent = 0; LSent < ABytes.size(); LSent += static_cast<std::size_t>(LCount))
      if ((LCount = send(Fd.Get(), ABytes.data() + LSent, ABytes.size() - LSent, MSG_NOSIGNAL)) <= 0) return;
  }
  // Whether the agent has sent something or closed, after waiting AMs of real time.
  bool HasNews(int AMs = 0) {
    pollfd LFd{Fd.Get(), POLLIN, 0};
    return poll(&LFd, 1, AMs) > 0;
  }
  // Everything the agent sends until it closes the connection, waiting at most AMaxMs of real time;
  // nullopt when it did not close by then.
  std::optional<std::string> ReadUntilClosed(int AMaxMs = 10000) {
    const TMonoTime LStart = TClock::RealMonotonic();
    std::string LBytes;
    char LBuffer[4096];
    while (HasNews(static_cast<int>(std::max<int64_t>(0, AMaxMs - RealMsSince(LStart))))) {
      const ssize_t LCount = recv(Fd.Get(), LBuffer, sizeof(LBuffer), 0);
      if (LCount <= 0) return LBytes;  // closed (or reset once the agent dropped unread input)
      LBytes.append(LBuffer, static_cast<std::size_t>(LCount));
    }
    return std::nullopt;
  }
  // The one answer the agent sent before it closed.
  TControlAnswer ReadAnswer() {
    TControlAnswerReader LReader;
    LReader.Feed(ReadUntilClosed().value_or(""));
    EXPECT_TRUE(LReader.IsComplete());
    return LReader.GetAnswer();
  }

  TFileHandle Fd;
};

class ControlServerTest : public ::testing::Test {
protected:
  TControlAnswer Send(const std::string& ACommand, std::vector<std::string> AArguments = {}) {
    return TControlClient::Send(FPath, {ACommand, std::move(AArguments)});
  }
  std::unique_ptr<TControlServer> Serve(TControlServerLimits ALimits = {}) {
    auto LServer = std::make_unique<TControlServer>(FPath, EchoHandler, ALimits);
    LServer->Start();
    return LServer;
  }

  Testing::TTempDir FDir{"ctl"};
  std::string FPath = ControlSocketPath(FDir.Path());
  Testing::TLogCapture FLog;
};

TEST_F(ControlServerTest, AnswersThroughARealSocketThatOnlyItsOwnerMayOpen) {
  const auto LServer = Serve();
  struct stat LStat {};
  ASSERT_EQ(lstat(FPath.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_mode & (S_IFMT | 07777), S_IFSOCK | 0600u);

  EXPECT_EQ(Send("enqueue", {"Computer Scanner", "", "a\tb\nc\\"}),
            (TControlAnswer{true, "enqueue|Computer Scanner||a\tb\nc\\"}));
  // An answer larger than the socket buffer is delivered in rounds.
  EXPECT_EQ(Send("big").Text, std::string(3 * 1024 * 1024, 'b') + "\nend");
  EXPECT_EQ(Send("throw", {"Nightly"}), (TControlAnswer{false, "no job named Nightly"}));
  TRawPeer LGarbage(FPath);
  LGarbage.SendAll("enqueue\tbad\\q\n");
  EXPECT_EQ(LGarbage.ReadAnswer(), (TControlAnswer{false, "malformed request"}));

  LServer->Stop();
  EXPECT_NE(lstat(FPath.c_str(), &LStat), 0);
  const std::string LLong = FDir.Path() + "/" + std::string(110, 'd') + "/control.sock";
  EXPECT_THAT(
      [&] {
        TControlClient::Send(LLong, {"status", {}});
      },
      ::testing::ThrowsMessage<EArgumentException>(::testing::HasSubstr("too long for a Unix socket")));
  EXPECT_THROW(TControlServer(LLong, EchoHandler).Start(), EArgumentException);
}

TEST_F(ControlServerTest, ReplacesADeadAgentsSocketButNeitherALiveOneNorAFile) {
  ASSERT_TRUE(SocketAt(FPath, true).IsOpen());  // the file stays, nobody listens
  EXPECT_THROW(Send("status"), EControlNotRunning);
  const auto LServer = Serve();
  EXPECT_TRUE(Send("status").Ok);
  EXPECT_THROW(Serve(), EInvalidOperation);
  EXPECT_TRUE(Send("status").Ok);

  const std::string LFile = FDir.Path() + "/not-a-socket";
  std::ofstream(LFile) << "keep me";
  EXPECT_THROW(TControlServer(LFile, EchoHandler).Start(), EFileError);
  EXPECT_EQ(std::filesystem::file_size(LFile), 7u);
}

TEST_F(ControlServerTest, ASilentPeerDelaysNobodyAndIsClosedAfterASecondInRealTime) {
  // A frozen manual clock: the idle deadline must run on real time all the same.
  Testing::TManualClockScope LClock;
  const auto LServer = Serve();
  const TMonoTime LStart = TClock::RealMonotonic();
  TRawPeer LSilent(FPath);
  ASSERT_TRUE(LSilent.Fd.IsOpen());
  for (int I = 0; I < 5; ++I)
    EXPECT_EQ(Send("status", {std::to_string(I)}).Text, "status|" + std::to_string(I));
  EXPECT_TRUE(!LSilent.HasNews() || RealMsSince(LStart) >= 900) << "closed before its idle time";
  EXPECT_EQ(LSilent.ReadUntilClosed(), "");
  EXPECT_GE(RealMsSince(LStart), 900);
}

TEST_F(ControlServerTest, AFloodWithoutALineEndIsRefusedWhileOthersAreServed) {
  const auto LServer = Serve();
  TRawPeer LFlood(FPath);
  ASSERT_TRUE(LFlood.Fd.IsOpen());
  std::thread LWriter([&] { LFlood.SendAll(std::string(1024 * 1024, 'g')); });
  EXPECT_EQ(Send("status").Text, "status");
  const TControlAnswer LAnswer = LFlood.ReadAnswer();
  LWriter.join();
  EXPECT_EQ(LAnswer, (TControlAnswer{false, "request too long: more than 65536 bytes"}));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning, "is longer than 65536 bytes; refused"));
  EXPECT_EQ(Send("status").Text, "status");
}

TEST_F(ControlServerTest, FiftyPeersAtOnceAllGetTheirOwnAnswers) {
  const auto LServer = Serve();
  std::atomic<int> LRight{0};
  std::vector<std::thread> LPeers;
  for (int I = 0; I < 50; ++I)
    LPeers.emplace_back([&, I] {
      const std::string LId = std::to_string(I);
      if (TControlClient::Send(FPath, {"pull", {LId}}, 30000) == TControlAnswer{true, "pull|" + LId})
        ++LRight;
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
  ASSERT_TRUE(LOldest.Fd.IsOpen() && LNewer.Fd.IsOpen());
  EXPECT_EQ(Send("status").Text, "status");
  EXPECT_EQ(LOldest.ReadUntilClosed(), "");
  EXPECT_FALSE(LNewer.HasNews());

  // Two peers that do not take their large answers hold both slots: nobody idle is left to close.
  TRawPeer LSlowA(FPath), LSlowB(FPath);
  LSlowA.SendAll("big\n");
  LSlowB.SendAll("big\n");
  using ::testing::AllOf, ::testing::Field, ::testing::HasSubstr;
  for (int I = 0; I < 3; ++I)
    EXPECT_THAT(Send("status"),
                AllOf(Field(&TControlAnswer::Ok, false), Field(&TControlAnswer::Text, HasSubstr("busy"))));
  EXPECT_EQ(LNewer.ReadUntilClosed(), "");
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, "connections are being answered"), 1);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, "idle longest, is closed for a new one"), 1);
}

TEST_F(ControlServerTest, AClientWhoseConnectionGaveWayUnreadSendsItsRequestAgain) {
  // An agent by hand: it closes the first connection without reading it, as a flooded agent does
  // with its idle connections, and answers the second.
  const TFileHandle LListen = SocketAt(FPath, true);
  ASSERT_TRUE(LListen.IsOpen() && listen(LListen.Get(), 4) == 0);
  std::thread LAgent([&] {
    close(accept(LListen.Get(), nullptr, nullptr));
    const TFileHandle LSecond(accept(LListen.Get(), nullptr, nullptr));
    if (!LSecond.IsOpen()) return;  // the client gave up
    char LLine[64];
    [[maybe_unused]] const ssize_t LRead = recv(LSecond.Get(), LLine, sizeof(LLine), 0);
    const std::string LAnswer = EncodeAnswer({true, "second"});
    [[maybe_unused]] const ssize_t LSent = send(LSecond.Get(), LAnswer.data(), LAnswer.size(), MSG_NOSIGNAL);
  });
  EXPECT_NO_THROW(
      EXPECT_EQ(TControlClient::Send(FPath, {"status", {}}, 5000), (TControlAnswer{true, "second"})));
  shutdown(LListen.Get(), SHUT_RDWR);  // ends a wait for a second connection that never came
  LAgent.join();
}

TEST_F(ControlServerTest, StopWithPeersConnectedIsPromptAndClosesThem) {
  const auto LServer = Serve({.IdleMs = 60000});
  std::vector<std::unique_ptr<TRawPeer>> LPeers;
  for (int I = 0; I < 3; ++I) LPeers.push_back(std::make_unique<TRawPeer>(FPath));
  LPeers[0]->SendAll("status\tno line end yet");
  EXPECT_TRUE(Send("status").Ok);  // all three are in by now
  const TMonoTime LStart = TClock::RealMonotonic();
  LServer->Stop();
  EXPECT_LT(RealMsSince(LStart), 30000);  // not after the peers' 60 s idle time
  for (auto& LPeer : LPeers) EXPECT_TRUE(LPeer->ReadUntilClosed(2000));
  EXPECT_THROW(Send("status"), EControlNotRunning);
}

}  // namespace
}  // namespace Orvane
