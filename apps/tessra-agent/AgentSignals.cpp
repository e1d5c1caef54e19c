#include "AgentSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>

#include "OrvaneCore/Base/Exceptions.h"
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
      Handler(LInfo.ssi_signo == SIGTERM ? TSignalKind::skTerminate : TSignalKind::skInterrupt);
    }
  }
};

namespace {
sigset_t AgentSignalSet() {
  sigset_t LSet;
  sigemptyset(&LSet);
  sigaddset(&LSet, SIGINT);
  sigaddset(&LSet, SIGTERM);
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
  if (GMaskSaved) pthread_sigmask(SIG_SETMASK, &GMaskBeforeBlocking, nullptr);
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
    throw EOSError("Cannot watch the signals SIGINT and SIGTERM", LError);
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
