#include "JobServices/AgentTask/JobProcessor.h"

namespace Orvane {

TAgentTaskJobProcessor::TAgentTaskJobProcessor(std::shared_ptr<IAgentTaskDispatcher> ADispatcher)
    : FDispatcher(std::move(ADispatcher)) {}

// The run uses FDispatcher: it must have ended before this part of the object goes.
TAgentTaskJobProcessor::~TAgentTaskJobProcessor() { FinishBeforeDestruction(); }

TJobResult TAgentTaskJobProcessor::InternalProcessJob() {
  // Long tasks poll this: false while the service waits for running jobs to end.
  const TContinueCheck LCanContinue = [this] {
    IJobProcessorPool<>* LPool = GetProcessorPool();
    return !LPool || LPool->CanContinueWork();
  };
  if (FDispatcher->StartScanner(GetJob(), LCanContinue)) return TJobResult::jrSucceeded;
  // A task that stopped because it was asked to did not fail.
  return LCanContinue() ? TJobResult::jrFailed : TJobResult::jrCutShort;
}

}  // namespace Orvane
