#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Container/Lazy.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"

namespace Orvane {

// The client command scanner: makes the host's client job service load its job list from the
// server on its next fetch, so that commands the server holds for this client arrive now rather
// than at the next scheduled reload. Any thread may run it; it keeps no state of its own.
class TClientCommandScanner : public TOrvaneObject, public virtual IAgentTask {
public:
  explicit TClientCommandScanner(Lazy<IJobListProvider<TJobAction>> AJobListProvider);

  std::string ClassName() const override { return "TClientCommandScanner"; }

  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) override;
  std::string GetAgentTaskId() override;
  // Collects nothing: returns true.
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) override;

private:
  // Resolved on the first run: the client job service is the host's and may be built after the
  // agent tasks. A missing registration raises then, as the run's failure.
  const Lazy<IJobListProvider<TJobAction>> FJobListProvider;
};

}  // namespace Orvane
