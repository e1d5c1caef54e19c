#include "JobServices/AgentTask/JobQueue.h"

#include <utility>

namespace Orvane {

namespace {
// The agent task id of the agent-restart task.
constexpr const char* CRestartAgentTaskId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";
}  // namespace

TAgentTaskJobQueue::TAgentTaskJobQueue(
    std::shared_ptr<IManualJobSaverQueue<TScannerJobAction>> AManualJobSaver,
    std::shared_ptr<IManualJobLoaderQueue<TScannerJobAction>> AManualJobLoader,
    std::shared_ptr<IJobServant> AJobServant)
    : TJobQueue<TScannerJobAction>(std::move(AManualJobSaver), std::move(AManualJobLoader)),
      FJobServant(std::move(AJobServant)) {}

TJobPtr TAgentTaskJobQueue::PeekNextJob() {
  if (FJobServant && FJobServant->IsRestartRequested()) {
    TJobPtr LRestartJob;
    {
      TReadLock LLock(FSynchronizer);
      // The job list's own restart job is preferred to a manual copy.
      LRestartJob = FindRestartJob(false);
      if (!LRestartJob) LRestartJob = FindRestartJob(true);
    }
    if (LRestartJob) return LRestartJob;
  }
  return TJobQueue<TScannerJobAction>::PeekNextJob();
}

TJobPtr TAgentTaskJobQueue::FindRestartJob(bool AIsManual) const {
  for (const TJobPtr& LJob : FJobs) {
    if (LJob->GetIsManual() == AIsManual && LJob->GetContentId() == CRestartAgentTaskId) return LJob;
  }
  return nullptr;
}

}  // namespace Orvane
