#include "AgentRestartCommand.h"

#include <utility>

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TAgentRestartCommand::TAgentRestartCommand(std::function<void()> AWakeMainThread)
    : FWakeMainThread(std::move(AWakeMainThread)) {}

void TAgentRestartCommand::RestartAgent() {
  if (FRestartRequested.exchange(true)) return;
  OrvaneLogger()->Message("Agent restart requested");
  if (FWakeMainThread) FWakeMainThread();
}

}  // namespace Orvane
