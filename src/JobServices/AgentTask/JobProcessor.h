#pragma once

#include <memory>

#include "JobManagement/JobProcessor/CustomJobProcessor.h"
#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "JobServices/AgentTask/JobProcessor.Intf.h"

namespace Orvane {

// Runs an agent-task job by handing it to the agent task dispatcher. Scheduled agent-task jobs get
// no execution id, so only manual jobs that brought one from the server are reported. A task that
// does not succeed while the pool asks running work to end early was cut short, not failed.
class TAgentTaskJobProcessor : public TCustomJobProcessor<TScannerJobAction>, public virtual IAgentTaskJobProcessor {
public:
  explicit TAgentTaskJobProcessor(std::shared_ptr<IAgentTaskDispatcher> ADispatcher);
  ~TAgentTaskJobProcessor() override;
  std::string ClassName() const override { return "TAgentTaskJobProcessor"; }

  std::string CreateExecutionId() override { return ""; }

protected:
  TJobResult InternalProcessJob() override;

private:
  const std::shared_ptr<IAgentTaskDispatcher> FDispatcher;
};

}  // namespace Orvane
