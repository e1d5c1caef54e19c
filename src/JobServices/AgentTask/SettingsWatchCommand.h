#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"

namespace Orvane {

// The settings watch: makes the agent-task job list provider, and the host's global second
// provider when it has one, load their job lists from the server on their next fetch. The
// agent-task provider enqueues this task an hour ahead whenever the server lists no jobs, so the
// agent asks again once an hour until jobs arrive. Any thread may run it; it keeps no state.
class TSettingsWatchTask : public TOrvaneObject, public virtual IAgentTask {
public:
  // Raises EInvalidPointer without a provider.
  explicit TSettingsWatchTask(std::shared_ptr<IJobListProvider<TScannerJobAction>> ATaskJobListProvider);

  std::string ClassName() const override { return "TSettingsWatchTask"; }

  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) override;
  std::string GetAgentTaskId() override;
  // Collects nothing: returns true.
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) override;

private:
  const std::shared_ptr<IJobListProvider<TScannerJobAction>> FTaskJobListProvider;
};

}  // namespace Orvane
