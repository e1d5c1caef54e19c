#include "JobServices/AgentTask/RestartAgentCommand.h"

#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

TRestartAgentTask::TRestartAgentTask(std::shared_ptr<ITessraAgentRestartCommand> ARestartAgentCommand)
    : FRestartAgentCommand(std::move(ARestartAgentCommand)) {
  if (!FRestartAgentCommand)
    throw EInvalidPointer("TRestartAgentTask needs the host's agent restart command");
}

bool TRestartAgentTask::Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&,
                                const TContinueCheck&) {
  FRestartAgentCommand->RestartAgent();
  return true;
}

std::string TRestartAgentTask::GetAgentTaskId() {
  return std::string(CRestartAgentId);
}

bool TRestartAgentTask::ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&,
                                 const TContinueCheck&, const std::string&) {
  return true;
}

}  // namespace Orvane
