#include "AgentSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "WakeablePoll.h"

namespace Orvane {

struct TAgentSignalWatcher::TState {
  THandler Handler;
  TFileHandle SignalFd;
  TWakeablePoll Wake;  // raised by the destructor to end the thread
  std::thread Thread;

  void Run() {
    std::vector<TWakeablePoll::TItem> LItems{{SignalFd.Get()}};
    for (;;) {
      // This thread only reacts to signals and to its end; the bound merely makes it look up.
      const TWakeablePoll::TWaitResult LResult = Wake.Wait(LItems, TWakeablePoll::CMaxWaitMs);
      if (LResult == TWakeablePoll::TWaitResult::Failed) {
        OrvaneLogger()->LastError("Signal watcher: poll failed", errno);
        return;
      }
      if (LResult == TWakeablePoll::TWaitResult::Woken) return;
      if (!LItems[0].Ready) continue;
      signalfd_siginfo LInfo{};
      if (read(SignalFd.Get(), &LInfo, sizeof(LInfo)) != static_cast<ssize_t>(sizeof(LInfo))) continue;
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

TAgentSignalWatcher::TAgentSignalWatcher(THandler AHandler) : FState(std::make_unique<TState>()) {
  FState->Handler = std::move(AHandler);
  const sigset_t LSet = AgentSignalSet();
  FState->SignalFd.Reset(signalfd(-1, &LSet, SFD_CLOEXEC));
  if (!FState->SignalFd.IsOpen()) throw EOSError("Cannot watch the signals", errno);
  FState->Thread = std::thread([State = FState.get()] { State->Run(); });
}

TAgentSignalWatcher::~TAgentSignalWatcher() {
  FState->Wake.Wake();
  if (FState->Thread.joinable()) FState->Thread.join();
}

}  // namespace Orvane
