// The control channel: its protocol, that its server serves only the agent's own user (even when
// the socket file's mode would let another one in), and the agent's answers to its commands.

#include <gmock/gmock.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "AgentControlCommands.h"
#include "Control/ControlProtocol.h"
#include "Control/ControlServer.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "Support/TaskMocks.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

TEST(ControlProtocolTest, AwkwardTextsSurviveARoundTripOnOneLine) {
  const std::vector<TControlRequest> LRequests = {
      {"status", {}},
      {"pull", {""}},
      {"enqueue", {"", "line 1\nline 2\r\n", "C:\\jobs\\new", "\\t is not a tab", "ends\\"}},
      {"x\ty\\z", {"Grüße € 漢字 🙂"}},
  };
  for (const TControlRequest& LRequest : LRequests) {
    const std::string LLine = EncodeRequest(LRequest);
    ASSERT_EQ(std::count(LLine.begin(), LLine.end(), '\n'), 1) << LLine;
    ASSERT_EQ(LLine.back(), '\n');
    EXPECT_EQ(LLine.find('\r'), std::string::npos);
    EXPECT_EQ(DecodeRequest(std::string_view(LLine).substr(0, LLine.size() - 1)), LRequest) << LLine;
  }
  EXPECT_EQ(EncodeRequest({"enqueue", {"a\tb", "c"}}), "enqueue\ta\\tb\tc\n");
}

TEST(ControlProtocolTest, GarbageRequestLinesAndBrokenStatusLinesAreRejected) {
  // No or an empty command, an unknown or unfinished escape, raw control characters, bytes that are
  // not UTF-8 (Latin-1, overlong, a surrogate, cut short), too long.
  for (const std::string& LLine : std::vector<std::string>{
           "", "\tjob", "enqueue\tbad\\x", "enqueue\tends in a lone backslash\\", "two\nlines",
           "carriage\rreturn", std::string("nul\0byte", 8), "latin1 \xE9t\xE9", "overlong \xC0\xAF",
           "surrogate \xED\xA0\x80", "truncated \xE2\x82", std::string(CMaxRequestBytes + 1, 'x')})
    EXPECT_FALSE(DecodeRequest(LLine)) << LLine.substr(0, 40);
  EXPECT_TRUE(DecodeRequest(std::string(CMaxRequestBytes, 'x')));
  // The last one never ends its status line.
  for (const std::string& LBytes :
       std::vector<std::string>{"HELLO 3\nabc", "OK\n", "OK \n", "OK -1\n", "OK +1\n", "OK 12x\n", "ok 1\nx",
                                "ERROR 99999999999999999999\n", "OK 1000000000\n", std::string(1000, '7')}) {
    TControlAnswerReader LReader;
    EXPECT_THROW(LReader.Feed(LBytes), EControlError) << LBytes.substr(0, 40);
  }
}

TEST(ControlProtocolTest, AnswersAreReadWhateverTheirBytesArriveIn) {
  using A = TControlAnswer;
  for (const A& LAnswer : {A{true, ""}, A{false, "no such job"},
                           A{true, "line 1\nline 2\n\tindented\nOK 5\n"}, A{true, std::string(70000, 'z')}}) {
    const std::string LBytes = EncodeAnswer(LAnswer) + "trailing";
    TControlAnswerReader LWhole;
    EXPECT_EQ(LWhole.Feed(LBytes), LBytes.size() - 8);
    ASSERT_TRUE(LWhole.IsComplete());
    EXPECT_EQ(LWhole.GetAnswer(), LAnswer);

    TControlAnswerReader LByByte;
    std::size_t LUsed = 0;
    for (std::size_t I = 0; I < LBytes.size() && !LByByte.IsComplete(); ++I)
      LUsed += LByByte.Feed(std::string_view(LBytes).substr(I, 1));
    EXPECT_EQ(LUsed, LBytes.size() - 8);
    EXPECT_EQ(LByByte.GetAnswer(), LAnswer);
  }
  EXPECT_EQ(EncodeAnswer({false, "a\nb"}), "ERROR 3\na\nb");
}

// Connects as AUid in a child process to ADir/control.sock and sends one request; the child's exit code says
// what came back: 0 an ERROR answer naming the refusal, 1 an OK answer, 2 no connection, 3 anything else.
int RequestAsUser(const std::string& ADir, uid_t AUid) {
  const sockaddr_un LAddress = ControlSocketAddress("control.sock");
  const pid_t LChild = fork();
  if (LChild == 0) {
    // Only system calls from here on: the parent has threads. The socket is reached from inside
    // its folder, so that folders above it that the other user may not enter do not matter.
    if (chdir(ADir.c_str()) != 0) _exit(3);
    if (setresgid(AUid, AUid, AUid) != 0 || setresuid(AUid, AUid, AUid) != 0) _exit(3);
    const int LSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(LSocket, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) != 0) _exit(2);
    // The agent may have answered and closed before the request goes out: no SIGPIPE, just read.
    const char CRequest[] = "status\n";
    send(LSocket, CRequest, sizeof(CRequest) - 1, MSG_NOSIGNAL);
    char LAnswer[256] = {};
    // The whole answer: the agent closes the connection after it.
    [[maybe_unused]] const ssize_t LRead = recv(LSocket, LAnswer, sizeof(LAnswer) - 1, MSG_WAITALL);
    const std::string_view LText(LAnswer);
    _exit(LText.starts_with("OK")                                                       ? 1
          : LText.starts_with("ERROR") && LText.find("permission denied") != LText.npos ? 0
                                                                                        : 3);
  }
  int LStatus = 0;
  waitpid(LChild, &LStatus, 0);
  return WIFEXITED(LStatus) ? WEXITSTATUS(LStatus) : -1;
}

TEST(ControlServerPeerTest, APeerOfAnotherUserIsRefusedEvenThroughAnOpenSocketFile) {
  if (geteuid() != 0) GTEST_SKIP() << "playing another user needs root";
  Testing::TTempDir LDir;
  std::filesystem::permissions(LDir.Path(), std::filesystem::perms::all);
  const std::string LPath = LDir.Path() + "/control.sock";
  TControlServer LServer(LPath, [](const TControlRequest&) { return TControlAnswer{true, "served"}; });
  LServer.Start();
  // Opened on purpose: only the peer check stands between the other user and the agent.
  ASSERT_EQ(chmod(LPath.c_str(), 0666), 0);
  EXPECT_EQ(RequestAsUser(LDir.Path(), 65534), 0);
  EXPECT_EQ(RequestAsUser(LDir.Path(), 0), 1);
  LServer.Stop();
}

// What a full disk makes of enqueue and enqueue-all is the end-to-end durability test's; here, an
// enqueue-all that saved some scanners names them.
TEST(AgentControlCommandsTest, EnqueueAllThatSavedSomeScannersNamesThemAndTheReasonForTheRest) {
  auto LQueue = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskQueue>>();
  TAgentControlCommands LCommands(LQueue, nullptr, nullptr, nullptr);
  using ::testing::_, ::testing::Return;
  ON_CALL(*LQueue, EnqueueAgentTask(_, _)).WillByDefault(Return(EIO));
  ON_CALL(*LQueue, EnqueueAgentTask(std::string(CComputerScannerId), _)).WillByDefault(Return(0));
  ON_CALL(*LQueue, EnqueueAgentTask(std::string(CSoftwareScannerId), _)).WillByDefault(Return(0));
  EXPECT_EQ(LCommands.Handle({"enqueue-all", {}}),
            (TControlAnswer{false,
                            "Not every scanner is enqueued: the others could not be saved: Input/output "
                            "error. Enqueued: Computer Scanner, Software Scanner."}));
}

}  // namespace
}  // namespace Orvane
