#pragma once

#include <functional>

namespace Orvane {

// Turns SIGINT and SIGTERM into calls on a normal thread: the signals are blocked in every thread
// and read from a signalfd, so nothing of the agent ever runs inside a signal handler.
class TAgentSignalWatcher {
public:
  enum class TSignalKind { skInterrupt, skTerminate };
  using THandler = std::function<void(TSignalKind)>;

  // Blocks SIGINT and SIGTERM in the calling thread; call it in main before any thread starts, so
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
  TState* FState;
};

}  // namespace Orvane
