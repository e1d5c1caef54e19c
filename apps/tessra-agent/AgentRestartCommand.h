#pragma once

#include <atomic>
#include <functional>

#include "Core/AgentRestartCommand.Intf.h"

namespace Orvane {

// The agent's restart: the restart task calls it from a job's thread, so it only records the
// request and wakes the main thread, which stops the service. It returns at once, so that the
// restart job finishes normally.
class TAgentRestartCommand : public ITessraAgentRestartCommand {
public:
  explicit TAgentRestartCommand(std::function<void()> AWakeMainThread);

  void RestartAgent() override;
  bool GetIsRestartRequested() const { return FRestartRequested.load(); }

private:
  std::function<void()> FWakeMainThread;
  std::atomic<bool> FRestartRequested{false};
};

}  // namespace Orvane
