#include "JobServices/AgentTask/JobQueue.h"

#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"

namespace Orvane {

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
    if (LJob->GetIsManual() == AIsManual && LJob->GetContentId() == CRestartAgentId) return LJob;
  }
  return nullptr;
}

}  // namespace Orvane
