#pragma once

#include <memory>

#include "JobManagement/JobProcessor/CustomJobProcessorPool.h"
#include "JobServices/AgentTask/JobProcessor.Intf.h"
#include "OrvaneCore/Container/ContainerTypes.h"

namespace Orvane {

// The pool of agent-task processors: each one made by the container's factory, with no practical
// limit on jobs running side by side.
class TAgentTaskJobProcessorPool : public TCustomJobProcessorPool<TScannerJobAction> {
public:
  static constexpr int32_t CUnlimited = 2147483647;

  TAgentTaskJobProcessorPool(std::shared_ptr<IJobExecStateReporter> AJobExecStateReporter,
                             TFunc<IAgentTaskJobProcessor> ACreateProcessorFunc);
  explicit TAgentTaskJobProcessorPool(TFunc<IAgentTaskJobProcessor> ACreateProcessorFunc);
  std::string ClassName() const override { return "TAgentTaskJobProcessorPool"; }

protected:
  std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr& AJob) override;

private:
  const TFunc<IAgentTaskJobProcessor> FCreateProcessorFunc;
};

}  // namespace Orvane
