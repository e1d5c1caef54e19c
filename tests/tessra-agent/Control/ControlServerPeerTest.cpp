// The control channel serves only the agent's own user, even when the socket file's mode would let
// another one in.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "Control/ControlServer.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// Connects as AUid in a child process to ADir/control.sock and sends one request; the child's exit code says what came
// back: 0 an ERROR answer naming the refusal, 1 an OK answer, 2 no connection, 3 anything else.
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
    std::size_t LRead = 0;
    for (ssize_t LCount; LRead < sizeof(LAnswer) - 1 &&
                         (LCount = read(LSocket, LAnswer + LRead, sizeof(LAnswer) - 1 - LRead)) > 0;)
      LRead += static_cast<std::size_t>(LCount);
    const std::string_view LText(LAnswer);
    _exit(LText.starts_with("OK")                                                              ? 1
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

}  // namespace
}  // namespace Orvane
