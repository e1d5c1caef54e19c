#pragma once

#include <memory>
#include <string>

#include "Core/AgentRestartCommand.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"

namespace Orvane {

// The agent restart: hands the request to the host's restart command and returns. Whether and
// when the agent restarts is the host's business; the command returns at once, so the job that
// ran this task ends normally before the host stops the service. Any thread may run it.
class TRestartAgentTask : public TOrvaneObject, public virtual IAgentTask {
public:
  // Raises EInvalidPointer without a command.
  explicit TRestartAgentTask(std::shared_ptr<ITessraAgentRestartCommand> ARestartAgentCommand);

  std::string ClassName() const override { return "TRestartAgentTask"; }

  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) override;
  std::string GetAgentTaskId() override;
  // Collects nothing, and above all restarts nothing: returns true.
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) override;

private:
  const std::shared_ptr<ITessraAgentRestartCommand> FRestartAgentCommand;
};

}  // namespace Orvane
