#include "AgentSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

struct TAgentSignalWatcher::TState {
  THandler Handler;
  int SignalFd = -1;
  int WakeFd = -1;  // written by the destructor to end the thread
  std::thread Thread;

  void Run() {
    pollfd LFds[2] = {{SignalFd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    for (;;) {
      // Blocks without a deadline on purpose: this thread only reacts to signals and to its end.
      const int LReady = poll(LFds, 2, -1);
      if (LReady < 0) {
        if (errno == EINTR) continue;
        OrvaneLogger()->LastError("Signal watcher: poll failed", errno);
        return;
      }
      if (LFds[1].revents != 0) return;
      signalfd_siginfo LInfo{};
      if (read(SignalFd, &LInfo, sizeof(LInfo)) != static_cast<ssize_t>(sizeof(LInfo))) continue;
      switch (LInfo.ssi_signo) {
        case SIGINT:
          Handler(TSignalKind::skInterrupt);
          break;
        case SIGTERM:
          Handler(TSignalKind::skTerminate);
          break;
        case SIGHUP:
          Handler(TSignalKind::skHangUp);
          break;
        default: {
          // Anyone of the agent's user can send these, as often as they like.
          const char* LAbbreviation = sigabbrev_np(static_cast<int>(LInfo.ssi_signo));
          const std::string LName = std::string("SIG") + (LAbbreviation ? LAbbreviation : "?");
          OrvaneLogLimiter().Message("Signals: ignored " + LName, "Ignored the signal %s from process %d",
                                     {LName, static_cast<long long>(LInfo.ssi_pid)});
          break;
        }
      }
    }
  }
};

namespace {
sigset_t AgentSignalSet() {
  sigset_t LSet;
  sigemptyset(&LSet);
  for (const int LSignal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE}) sigaddset(&LSet, LSignal);
  return LSet;
}
}  // namespace

namespace {
// Written once, in main before any thread exists; read only by the thread that executes the agent
// again after every other thread has ended.
sigset_t GMaskBeforeBlocking;
bool GMaskSaved = false;
}  // namespace

void TAgentSignalWatcher::BlockSignals() {
  const sigset_t LSet = AgentSignalSet();
  GMaskSaved = pthread_sigmask(SIG_BLOCK, &LSet, &GMaskBeforeBlocking) == 0;
}

void TAgentSignalWatcher::RestoreSignalMask() {
  if (!GMaskSaved) return;
  // With the watcher gone, signals that never end the agent may be pending (the SIGPIPE of a write
  // to a closed pipe, a late SIGHUP); taken here, they cannot kill the process as the mask opens.
  sigset_t LHarmless;
  sigemptyset(&LHarmless);
  for (const int LSignal : {SIGHUP, SIGUSR1, SIGUSR2, SIGPIPE}) sigaddset(&LHarmless, LSignal);
  const timespec LNoWait{0, 0};
  while (sigtimedwait(&LHarmless, nullptr, &LNoWait) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &GMaskBeforeBlocking, nullptr);
}

TAgentSignalWatcher::TAgentSignalWatcher(THandler AHandler) : FState(new TState) {
  FState->Handler = std::move(AHandler);
  const sigset_t LSet = AgentSignalSet();
  FState->SignalFd = signalfd(-1, &LSet, SFD_CLOEXEC);
  FState->WakeFd = eventfd(0, EFD_CLOEXEC);
  if (FState->SignalFd < 0 || FState->WakeFd < 0) {
    const int LError = errno;
    if (FState->SignalFd >= 0) close(FState->SignalFd);
    if (FState->WakeFd >= 0) close(FState->WakeFd);
    delete FState;
    throw EOSError("Cannot watch the signals", LError);
  }
  FState->Thread = std::thread([State = FState] { State->Run(); });
}

TAgentSignalWatcher::~TAgentSignalWatcher() {
  const uint64_t LOne = 1;
  [[maybe_unused]] const ssize_t LWritten = write(FState->WakeFd, &LOne, sizeof(LOne));
  if (FState->Thread.joinable()) FState->Thread.join();
  close(FState->SignalFd);
  close(FState->WakeFd);
  delete FState;
}

}  // namespace Orvane
