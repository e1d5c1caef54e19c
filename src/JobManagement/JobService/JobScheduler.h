#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobSchedulerIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// Decides which jobs of the job list are due and queues them. A pass takes the time once and
// evaluates every job at that moment; the due time it computes stays in the job (NextExecution)
// until the dispatcher resets it, so a job is evaluated once per run. A job whose due time lies in
// the future is not due yet: it keeps the value and is queued by the first pass at or after it.
//
// Threading: passes run one at a time (FPassLock). The main loop and a waiting pass both pass;
// side by side, each would walk a list fetched before the other moved a manual job into the queue,
// and the second would queue that job again once the first copy had left the queue, running it
// twice. FPassLock comes before the job list's and the queue's locks and is never taken under
// them; a pass waits on nothing while it holds it.
class TJobScheduler : public TOrvaneObject, public virtual IJobScheduler {
public:
  // AJobServant may be nullptr: then no job is held back for a pending reboot or restart.
  TJobScheduler(std::shared_ptr<IJobListProvider<>> AJobProvider, std::shared_ptr<IJobQueue<>> AJobQueue,
                std::shared_ptr<IJobServant> AJobServant);
  TJobScheduler(std::shared_ptr<IJobListProvider<>> AJobProvider, std::shared_ptr<IJobQueue<>> AJobQueue);

  std::string ClassName() const override { return "TJobScheduler"; }

  // Failures during the pass are logged, never passed on; the jobs queued before stay queued.
  int32_t UpdateQueue(TConditions AAllowedConditions) override EXCLUDES(FPassLock);

private:
  // The fetched job list restricted to AAllowedConditions, which the queue is synchronised with.
  // A pass then skips running jobs and logs the ones that are not initialized, job by job.
  TJobList FetchAllowedJobs(TConditions AAllowedConditions) REQUIRES(FPassLock);
  // Queues one due job; true when the queue took it.
  bool EnqueueDueJob(const TJobPtr& AJob);

  const std::shared_ptr<IJobListProvider<>> FJobProvider;
  const std::shared_ptr<IJobQueue<>> FJobQueue;
  const std::shared_ptr<IJobServant> FJobServant;
  TMutex FPassLock;
};

}  // namespace Orvane
