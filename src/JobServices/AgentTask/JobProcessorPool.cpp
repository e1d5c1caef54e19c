#include "JobServices/AgentTask/JobProcessorPool.h"

namespace Orvane {

TAgentTaskJobProcessorPool::TAgentTaskJobProcessorPool(
    std::shared_ptr<IJobExecStateReporter> AJobExecStateReporter,
    TFunc<IAgentTaskJobProcessor> ACreateProcessorFunc)
    : TCustomJobProcessorPool<TScannerJobAction>(std::move(AJobExecStateReporter), CUnlimited),
      FCreateProcessorFunc(std::move(ACreateProcessorFunc)) {}

TAgentTaskJobProcessorPool::TAgentTaskJobProcessorPool(TFunc<IAgentTaskJobProcessor> ACreateProcessorFunc)
    : TAgentTaskJobProcessorPool(nullptr, std::move(ACreateProcessorFunc)) {}

std::shared_ptr<IJobProcessor<>> TAgentTaskJobProcessorPool::CreateProcessor(const TJobPtr&) {
  // The job is not passed on: the factory makes a bare processor, the run gets the job.
  return FCreateProcessorFunc ? FCreateProcessorFunc() : nullptr;
}

}  // namespace Orvane
