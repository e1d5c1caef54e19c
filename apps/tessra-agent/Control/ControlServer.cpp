#include "Control/ControlServer.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

namespace {

using namespace std::chrono_literals;

constexpr int CListenBacklog = 128;
// While a peer or a pause has a deadline, poll() wakes at least this often, so a deadline is never
// missed by much even if the clock of the computation drifts.
constexpr int CMaxPollMs = 1000;
constexpr int CIdlePollMs = 3600 * 1000;
// Accepting stops after this many connections in one round, so a flood of connects cannot starve
// the peers already served.
constexpr int CMaxAcceptsPerRound = 64;
// After the process ran out of descriptors, the listening socket rests this long before the next
// accept (it stays readable, and polling it again at once would spin).
constexpr auto CAcceptPause = 100ms;
constexpr std::size_t CReadChunk = 16 * 1024;

TMonoTime RealNow() {
  return TClock::RealMonotonic();
}

TMonoTime MsFromNow(int AMilliseconds) {
  return RealNow() + std::chrono::milliseconds(AMilliseconds);
}

// One send without waiting: a refused peer gets its reason if its socket takes it at once (a fresh
// socket always does), and is closed either way.
[[noreturn]] void ThrowOSError(const std::string& AText) {
  const int LError = errno;
  throw EOSError(AText + ": " + std::strerror(LError), LError);
}

void AnswerOnceAndClose(TFileHandle AFd, const TControlAnswer& AAnswer) {
  const std::string LBytes = EncodeAnswer(AAnswer);
  [[maybe_unused]] const ssize_t LSent = send(AFd.Get(), LBytes.data(), LBytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace

// The thread's state; only the server thread touches it.
struct TControlServer::TLoop {
  struct TClient {
    TFileHandle Fd;
    pid_t Pid = 0;
    std::string Input;
    std::string Output;
    std::size_t Sent = 0;
    bool Writing = false;
    TMonoTime Deadline{};
  };

  TControlServer& Server;
  TLogLimiter& Limited;
  std::vector<TClient> Clients;
  TMonoTime AcceptPausedUntil{};

  explicit TLoop(TControlServer& AServer) : Server(AServer), Limited(AServer.FLogLimiter) {}

  void Run() {
    std::vector<TWakeablePoll::TItem> LItems;
    for (;;) {
      LItems.clear();
      const bool LAccepting = RealNow() >= AcceptPausedUntil;
      LItems.push_back({LAccepting ? Server.FListen.Get() : -1});
      const std::size_t LPolled = Clients.size();
      for (const TClient& LClient : Clients) LItems.push_back({LClient.Fd.Get(), LClient.Writing});

      const TWakeablePoll::TWaitResult LResult = Server.FWake->Wait(LItems, PollTimeoutMs(LAccepting));
      if (LResult == TWakeablePoll::TWaitResult::Failed) {
        OrvaneLogger()->LastError("Control: poll failed; the control channel stops", errno);
        break;
      }
      if (LResult == TWakeablePoll::TWaitResult::Woken) break;
      // Clients first: a connection accepted in this round has no poll result yet.
      for (std::size_t I = 0; I < LPolled; ++I) {
        if (!LItems[I + 1].Ready) continue;
        if (Clients[I].Writing)
          Flush(Clients[I]);
        else
          Read(Clients[I]);
      }
      if (LItems[0].Ready) AcceptPending();
      ExpireDeadlines();
      RemoveClosed();
      Limited.Flush();
    }
    for (TClient& LClient : Clients) {
      // What the socket takes at once still reaches the peer (the answer to "stop", for one).
      if (LClient.Writing) Flush(LClient);
    }
    Clients.clear();
  }

  int PollTimeoutMs(bool AAccepting) const {
    // Nothing has a deadline: an idle agent sleeps until a peer connects or Stop wakes it, and
    // otherwise only looks up once an hour. Lines held back by the log limiter are summed up soon
    // after their interval, even when the flood that caused them has ended.
    if (AAccepting && Clients.empty() && !Limited.HasHeldBack()) return CIdlePollMs;
    TMonoTime LNearest = RealNow() + std::chrono::milliseconds(CMaxPollMs);
    if (!AAccepting) LNearest = std::min(LNearest, AcceptPausedUntil);
    for (const TClient& LClient : Clients) LNearest = std::min(LNearest, LClient.Deadline);
    const auto LLeft = LNearest - RealNow();
    if (LLeft <= TMonoTime::zero()) return 0;
    // Rounded up: waking a little early would only poll again for nothing.
    return static_cast<int>((LLeft + 999999ns) / 1ms);
  }

  void AcceptPending() {
    for (int I = 0; I < CMaxAcceptsPerRound; ++I) {
      TFileHandle LFd(accept4(Server.FListen.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!LFd.IsOpen()) {
        const int LError = errno;
        if (LError == EAGAIN || LError == EWOULDBLOCK) return;
        if (LError == EINTR || LError == ECONNABORTED) continue;
        Limited.LastError("Control: accepting a connection failed", "Control: accepting a connection failed", LError);
        if (LError == EMFILE || LError == ENFILE || LError == ENOBUFS || LError == ENOMEM)
          AcceptPausedUntil = RealNow() + CAcceptPause;
        return;
      }
      Admit(std::move(LFd));
    }
  }

  void Admit(TFileHandle AFd) {
    ucred LCred{};
    socklen_t LLength = sizeof(LCred);
    if (getsockopt(AFd.Get(), SOL_SOCKET, SO_PEERCRED, &LCred, &LLength) != 0) {
      Limited.LastError("Control: unreadable peer credentials",
                        "Control: the peer's credentials cannot be read; connection closed", errno);
      return;
    }
    if (LCred.uid != geteuid()) {
      Limited.Warning("Control: connection of another user refused",
                      "Control: refused a connection from user %d (process %d): not the agent's user",
                      {static_cast<long long>(LCred.uid), static_cast<long long>(LCred.pid)});
      AnswerOnceAndClose(std::move(AFd), {false, "permission denied"});
      return;
    }
    RemoveClosed();
    if (Clients.size() >= Server.FLimits.MaxClients && !MakeRoom()) {
      Limited.Warning("Control: connection refused, every slot busy",
                      "Control: refused a connection from process %d: %d connections are being answered",
                      {static_cast<long long>(LCred.pid), static_cast<long long>(Clients.size())});
      AnswerOnceAndClose(std::move(AFd), {false, "the agent is busy: too many control connections are open; try again"});
      return;
    }
    Limited.IntegerValue("Control: connection", "Control: connection from process", LCred.pid);
    TClient LClient;
    LClient.Fd = std::move(AFd);
    LClient.Pid = LCred.pid;
    LClient.Deadline = MsFromNow(Server.FLimits.IdleMs);
    Clients.push_back(std::move(LClient));
    // A client sends its line right after connecting, so it is usually here already: answered in
    // this round, it can neither time out nor give way to the connections accepted after it.
    Read(Clients.back());
  }

  // Closes the connection that has waited longest without a complete request (accept order is age
  // order); false when every connection is being answered.
  bool MakeRoom() {
    for (TClient& LClient : Clients) {
      if (!LClient.Fd.IsOpen() || LClient.Writing) continue;
      // Its line may be waiting unread; then it is served instead, and may be done at once.
      Read(LClient);
      if (LClient.Fd.IsOpen() && !LClient.Writing) {
        Limited.Warning("Control: idle connection closed for a new one",
                        "Control: %d connections are open; the one of process %d, idle longest, is closed for a new one",
                        {static_cast<long long>(Clients.size()), static_cast<long long>(LClient.Pid)});
        Drop(LClient);
      }
      if (!LClient.Fd.IsOpen()) break;
    }
    RemoveClosed();
    return Clients.size() < Server.FLimits.MaxClients;
  }

  // Connections are closed where they are found and removed here, once no index into the list is
  // in use any more.
  void RemoveClosed() {
    std::erase_if(Clients, [](const TClient& AClient) { return !AClient.Fd.IsOpen(); });
  }

  // Reads what is there; answers once a line is complete, the peer ended its side, or the line
  // grew past the limit.
  void Read(TClient& AClient) {
    char LBuffer[CReadChunk];
    for (;;) {
      const ssize_t LRead = recv(AClient.Fd.Get(), LBuffer, sizeof(LBuffer), 0);
      if (LRead > 0) {
        const std::size_t LOld = AClient.Input.size();
        AClient.Input.append(LBuffer, static_cast<std::size_t>(LRead));
        const std::size_t LEnd = AClient.Input.find('\n', LOld);
        if (LEnd != std::string::npos) {
          AClient.Input.resize(LEnd);
          if (AClient.Input.size() > Server.FLimits.MaxRequestBytes) return RefuseTooLong(AClient);
          return Answer(AClient, Handle(AClient.Input));
        }
        if (AClient.Input.size() > Server.FLimits.MaxRequestBytes) return RefuseTooLong(AClient);
        continue;
      }
      if (LRead == 0) {
        // The peer ended its side: nothing at all is a probe or a client that gave up.
        if (AClient.Input.empty()) return Drop(AClient);
        Limited.Warning("Control: request without a line end",
                        "Control: a request from process %d ended without a line end",
                        {static_cast<long long>(AClient.Pid)});
        return Answer(AClient, {false, "incomplete request: the line end is missing"});
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      Limited.LastError("Control: reading a request failed", "Control: reading a request failed", errno);
      return Drop(AClient);
    }
  }

  void RefuseTooLong(TClient& AClient) {
    Limited.Warning("Control: request too long", "Control: a request from process %d is longer than %d bytes; refused",
                    {static_cast<long long>(AClient.Pid), Server.FLimits.MaxRequestBytes});
    Answer(AClient, {false, "request too long: more than " + std::to_string(Server.FLimits.MaxRequestBytes) +
                                " bytes"});
  }

  TControlAnswer Handle(const std::string& ALine) {
    const std::optional<TControlRequest> LRequest = DecodeRequest(ALine);
    if (!LRequest) {
      Limited.Warning("Control: malformed request", "Control: a malformed request (%d bytes) was refused",
                      {static_cast<long long>(ALine.size())});
      return {false, "malformed request"};
    }
    if (Limited.Pass("Control: request", TLogLevel::Debug))
      OrvaneLogger()->StringValue("Control: request", LRequest->Command);
    try {
      return Server.FHandler(*LRequest);
    } catch (const std::exception& E) {
      Limited.Warning("Control: command failed", "Control: the command %s failed: %s", {LRequest->Command, E.what()});
      return {false, E.what()};
    } catch (...) {
      Limited.Warning("Control: command failed", "Control: the command %s failed", {LRequest->Command});
      return {false, "the command " + LRequest->Command + " failed"};
    }
  }

  void Answer(TClient& AClient, const TControlAnswer& AAnswer) {
    AClient.Input.clear();
    AClient.Input.shrink_to_fit();
    AClient.Output = EncodeAnswer(AAnswer);
    AClient.Sent = 0;
    AClient.Writing = true;
    AClient.Deadline = MsFromNow(Server.FLimits.WriteMs);
    // Most answers fit the socket at once; the connection is then done without another round.
    Flush(AClient);
  }

  void Flush(TClient& AClient) {
    while (AClient.Sent < AClient.Output.size()) {
      const ssize_t LSent = send(AClient.Fd.Get(), AClient.Output.data() + AClient.Sent,
                                 AClient.Output.size() - AClient.Sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (LSent > 0) {
        AClient.Sent += static_cast<std::size_t>(LSent);
        continue;
      }
      if (LSent < 0 && errno == EINTR) continue;
      if (LSent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      // The peer went away before it had its answer; nothing more to do for it.
      Limited.IntegerValue("Control: peer left before its answer", "Control: peer left before its answer, process",
                           AClient.Pid);
      return Drop(AClient);
    }
    Drop(AClient);
  }

  void ExpireDeadlines() {
    const TMonoTime LNow = RealNow();
    for (TClient& LClient : Clients) {
      if (!LClient.Fd.IsOpen() || LClient.Deadline > LNow) continue;
      if (LClient.Writing) {
        Limited.Warning("Control: answer not taken", "Control: process %d did not take its answer within %d ms; connection closed",
                        {static_cast<long long>(LClient.Pid), Server.FLimits.WriteMs});
        Drop(LClient);
        continue;
      }
      // The line may have arrived while the handler served someone else: read before giving up.
      Read(LClient);
      if (!LClient.Fd.IsOpen() || LClient.Writing) continue;
      Limited.IntegerValue("Control: idle connection closed", "Control: idle connection closed, process", LClient.Pid);
      Drop(LClient);
    }
  }

  static void Drop(TClient& AClient) { AClient.Fd.Reset(); }
};

TControlServer::TControlServer(std::string ASocketPath, THandler AHandler, TControlServerLimits ALimits,
                               TLogLimiter& ALogLimiter)
    : FSocketPath(std::move(ASocketPath)), FHandler(std::move(AHandler)), FLimits(ALimits), FLogLimiter(ALogLimiter) {}

TControlServer::~TControlServer() {
  Stop();
}

void TControlServer::Start() {
  if (FThread.joinable() || FListen.IsOpen()) throw EInvalidOperation("The control channel is already started");
  const sockaddr_un LAddress = ControlSocketAddress(FSocketPath);
  RemoveStaleSocket();
  bool LBound = false;
  try {
    FListen.Reset(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!FListen.IsOpen()) ThrowOSError("Cannot create the control socket");
    // The mode of the socket's inode becomes the file's at bind, so the file is never open to
    // others, not even for a moment; the chmod afterwards makes sure of it.
    if (fchmod(FListen.Get(), 0600) != 0) ThrowOSError("Cannot set the mode of the control socket");
    if (bind(FListen.Get(), reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress)) != 0)
      ThrowOSError("Cannot bind the control socket " + FSocketPath);
    LBound = true;
    struct stat LStat {};
    if (chmod(FSocketPath.c_str(), 0600) != 0 || lstat(FSocketPath.c_str(), &LStat) != 0)
      ThrowOSError("Cannot restrict the control socket " + FSocketPath + " to its owner");
    FSocketDevice = static_cast<uint64_t>(LStat.st_dev);
    FSocketInode = static_cast<uint64_t>(LStat.st_ino);
    if (listen(FListen.Get(), CListenBacklog) != 0)
      ThrowOSError("Cannot listen on the control socket " + FSocketPath);
    FWake.emplace();
    // A plain thread, unknown to the clock: it blocks in poll(), which a manual clock cannot see,
    // and its deadlines are real time anyway.
    FThread = std::thread([this] {
      pthread_setname_np(pthread_self(), "tessra-control");
      TLoop(*this).Run();
    });
  } catch (...) {
    if (LBound) unlink(FSocketPath.c_str());
    CloseHandles();
    throw;
  }
  OrvaneLogger()->Message("Control channel listening on %s", {FSocketPath});
}

void TControlServer::Stop() {
  if (FWake) FWake->Wake();
  if (FThread.get_id() == std::this_thread::get_id()) return;  // from the handler: the owner joins later
  if (FThread.joinable()) FThread.join();
  if (FListen.IsOpen()) {
    // Removed only while it is still ours: a later agent may have replaced a socket file we lost.
    struct stat LStat {};
    if (lstat(FSocketPath.c_str(), &LStat) == 0 && static_cast<uint64_t>(LStat.st_dev) == FSocketDevice &&
        static_cast<uint64_t>(LStat.st_ino) == FSocketInode)
      unlink(FSocketPath.c_str());
  }
  CloseHandles();
}

void TControlServer::CloseHandles() {
  FListen.Reset();
  FWake.reset();
}

void TControlServer::RemoveStaleSocket() {
  struct stat LStat {};
  if (lstat(FSocketPath.c_str(), &LStat) != 0) {
    if (errno == ENOENT) return;
    ThrowOSError("Cannot inspect the control socket path " + FSocketPath);
  }
  if (!S_ISSOCK(LStat.st_mode))
    throw EFileError("The control socket path " + FSocketPath +
                     " is taken by something that is not a socket");
  // A socket file outlives its agent; whether anyone still listens tells a dead agent's from a live one's.
  TFileHandle LProbe(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!LProbe.IsOpen()) ThrowOSError("Cannot create a socket");
  const sockaddr_un LAddress = ControlSocketAddress(FSocketPath);
  const int LResult = connect(LProbe.Get(), reinterpret_cast<const sockaddr*>(&LAddress), sizeof(LAddress));
  const int LError = errno;
  LProbe.Reset();
  // A full backlog (EAGAIN) means someone listens as well.
  if (LResult == 0 || LError == EAGAIN)
    throw EInvalidOperation("Another tessra-agent listens on the control socket " + FSocketPath);
  if (LError != ECONNREFUSED)
    throw EOSError("Cannot check the control socket " + FSocketPath + ": " + std::strerror(LError), LError);
  if (unlink(FSocketPath.c_str()) != 0 && errno != ENOENT)
    ThrowOSError("Cannot remove the stale control socket " + FSocketPath);
  OrvaneLogger()->Message("Removed the stale control socket %s", {FSocketPath});
}

}  // namespace Orvane
