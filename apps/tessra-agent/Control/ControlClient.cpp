#include "Control/ControlClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

namespace {

using namespace std::chrono_literals;

[[noreturn]] void ThrowOSError(const std::string& AText, int AError) {
  throw EOSError(AText + ": " + std::strerror(AError), AError);
}

// Milliseconds left until ADeadline, rounded up; 0 once it has passed.
int MsLeft(TMonoTime ADeadline) {
  const auto LLeft = ADeadline - TClock::RealMonotonic();
  if (LLeft <= TMonoTime::zero()) return 0;
  return static_cast<int>((LLeft + 999999ns) / 1ms);
}

// Waits for AEvents on AFd until ADeadline; false when the time is up.
bool WaitFor(int AFd, short AEvents, TMonoTime ADeadline) {
  for (;;) {
    const int LLeft = MsLeft(ADeadline);
    if (LLeft == 0) return false;
    pollfd LFd{AFd, AEvents, 0};
    const int LReady = poll(&LFd, 1, LLeft);
    if (LReady > 0) return true;
    if (LReady < 0 && errno != EINTR) ThrowOSError("Waiting on the control socket failed", errno);
  }
}

std::string DataDirOf(const std::string& ASocketPath) {
  const std::string LDir = std::filesystem::path(ASocketPath).parent_path().string();
  return LDir.empty() ? "." : LDir;
}

void Connect(int AFd, const std::string& ASocketPath, int ATimeoutMs) {
  const sockaddr_un LAddress = ControlSocketAddress(ASocketPath);
  // A blocking connect waits only while the agent's backlog is full; the send time-out bounds that.
  timeval LTimeout{ATimeoutMs / 1000, (ATimeoutMs % 1000) * 1000};
  if (setsockopt(AFd, SOL_SOCKET, SO_SNDTIMEO, &LTimeout, sizeof(LTimeout)) != 0)
    ThrowOSError("Cannot set up the control socket", errno);
  int LResult;
  do {
    LResult = connect(AFd, reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress));
  } while (LResult != 0 && errno == EINTR);
  if (LResult == 0) return;
  const int LError = errno;
  if (LError == ENOENT || LError == ECONNREFUSED || LError == ENOTDIR)
    throw EControlNotRunning("no tessra-agent is running on " + DataDirOf(ASocketPath));
  if (LError == EAGAIN || LError == EINPROGRESS || LError == ETIMEDOUT)
    throw EControlError("The agent did not accept the control connection within " +
                        std::to_string(ATimeoutMs) + " ms");
  ThrowOSError("Cannot connect to the control socket " + ASocketPath, LError);
}

// One connection, one request; nullopt when the agent closed it without a byte of answer.
std::optional<TControlAnswer> SendOnce(const std::string& ASocketPath, const std::string& ALine, int ATimeoutMs,
                                       TMonoTime ADeadline) {
  const std::string LTimedOut = "The agent did not answer within " + std::to_string(ATimeoutMs) + " ms";
  const TFileHandle LSocket(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!LSocket.IsOpen()) ThrowOSError("Cannot create a socket", errno);
  Connect(LSocket.Get(), ASocketPath, std::max(1, MsLeft(ADeadline)));
  const int LFlags = fcntl(LSocket.Get(), F_GETFL);
  if (LFlags < 0 || fcntl(LSocket.Get(), F_SETFL, LFlags | O_NONBLOCK) != 0)
    ThrowOSError("Cannot set up the control socket", errno);

  std::size_t LSent = 0;
  while (LSent < ALine.size()) {
    const ssize_t LCount = send(LSocket.Get(), ALine.data() + LSent, ALine.size() - LSent, MSG_NOSIGNAL);
    if (LCount > 0) {
      LSent += static_cast<std::size_t>(LCount);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(LSocket.Get(), POLLOUT, ADeadline)) throw EControlError(LTimedOut);
    } else if (errno == EPIPE || errno == ECONNRESET) {
      // The agent answered before it read everything (busy, refused); its answer is still there.
      break;
    } else if (errno != EINTR) {
      ThrowOSError("Cannot send the request on the control socket", errno);
    }
  }

  TControlAnswerReader LReader;
  bool LAnswered = false;
  char LBuffer[16 * 1024];
  while (!LReader.IsComplete()) {
    const ssize_t LCount = recv(LSocket.Get(), LBuffer, sizeof(LBuffer), 0);
    if (LCount > 0) {
      LAnswered = true;
      const std::string_view LBytes(LBuffer, static_cast<std::size_t>(LCount));
      if (LReader.Feed(LBytes) != LBytes.size())
        throw EControlError("The agent's answer is followed by unexpected data");
    } else if (LCount == 0 || errno == ECONNRESET) {
      if (!LAnswered) return std::nullopt;
      throw EControlError("The agent closed the control connection before its answer was complete");
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(LSocket.Get(), POLLIN, ADeadline)) throw EControlError(LTimedOut);
    } else if (errno != EINTR) {
      ThrowOSError("Cannot read the answer from the control socket", errno);
    }
  }
  return LReader.GetAnswer();
}

}  // namespace

TControlAnswer TControlClient::Send(const std::string& ASocketPath, const TControlRequest& ARequest,
                                    int ATimeoutMs) {
  const std::string LLine = EncodeRequest(ARequest);
  if (LLine.size() - 1 > CMaxRequestBytes)
    throw EArgumentException("The request is too long for the control channel (" +
                             std::to_string(LLine.size() - 1) + " bytes, at most " +
                             std::to_string(CMaxRequestBytes) + ")");
  if (ATimeoutMs < 1) ATimeoutMs = 1;
  const TMonoTime LDeadline = TClock::RealMonotonic() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    if (std::optional<TControlAnswer> LAnswer = SendOnce(ASocketPath, LLine, ATimeoutMs, LDeadline)) return *LAnswer;
    if (MsLeft(LDeadline) == 0)
      throw EControlError("The agent closed the control connection before its answer was complete");
  }
}

}  // namespace Orvane
