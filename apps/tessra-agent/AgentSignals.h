#pragma once

#include <functional>
#include <memory>

namespace Orvane {

// Turns signals into calls on a normal thread: the signals are blocked in every thread and read from
// a signalfd, so nothing of the agent ever runs inside a signal handler. SIGINT, SIGTERM and SIGHUP
// reach the handler; SIGUSR1, SIGUSR2 and SIGPIPE are read and dropped (logged, limited), so that
// neither a stray signal nor a closed pipe ends the process. A write to a closed pipe or socket
// then fails with EPIPE instead.
class TAgentSignalWatcher {
public:
  enum class TSignalKind { skInterrupt, skTerminate, skHangUp };
  using THandler = std::function<void(TSignalKind)>;

  // Blocks the watched signals in the calling thread; call it in main before any thread starts, so
  // that every thread inherits the mask.
  static void BlockSignals();
  // Gives the calling thread the mask it had before BlockSignals, for a program about to execute
  // itself again: the new agent starts with the mask this one was given.
  static void RestoreSignalMask();

  explicit TAgentSignalWatcher(THandler AHandler);
  ~TAgentSignalWatcher();
  TAgentSignalWatcher(const TAgentSignalWatcher&) = delete;
  TAgentSignalWatcher& operator=(const TAgentSignalWatcher&) = delete;

private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace Orvane
