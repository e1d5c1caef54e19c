#pragma once

#include <memory>
#include <string>

#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobServantIntf.h"

namespace Orvane {

// The agent-task queue: while the host has asked for an agent restart, the agent-restart task's job
// leaves the queue before every other job, so that the restart is not held up by a long queue.
// Threading as TJobQueue; the servant is asked outside the queue's lock by PeekNextJob and inside
// the write section by DequeueNextJob, so it must not call back into the queue.
class TAgentTaskJobQueue : public TJobQueue<TScannerJobAction> {
public:
  // AJobServant may be nullptr; then the normal order always applies.
  TAgentTaskJobQueue(std::shared_ptr<IManualJobSaverQueue<TScannerJobAction>> AManualJobSaver,
                     std::shared_ptr<IManualJobLoaderQueue<TScannerJobAction>> AManualJobLoader,
                     std::shared_ptr<IJobServant> AJobServant);

  std::string ClassName() const override { return "TAgentTaskJobQueue"; }

  TJobPtr PeekNextJob() override;

private:
  // The first queued job of the agent-restart task that is manual or not, as AIsManual says.
  TJobPtr FindRestartJob(bool AIsManual) const REQUIRES_SHARED(FSynchronizer);

  const std::shared_ptr<IJobServant> FJobServant;
};

}  // namespace Orvane
