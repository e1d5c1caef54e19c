#pragma once

#include <memory>

#include "JobManagement/JobService/JobDispatcherIntf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Platform/CriticalSection.h"

namespace Orvane {

// Takes jobs from the head of the queue one after the other and, for each, decides whether it runs
// now, goes back into the queue, goes back to the job list or is dropped.
//
// FCriticalSection (D, first in the lock order dispatcher, pool, job list, queue) makes calls run
// one at a time; it is held for the whole call, the calls into the servant, the pool and the job
// list included. Jobs that a pending reboot or restart skips are put back only when the call ends,
// so that a call never takes the same job twice and always ends.
class TJobDispatcher : public TOrvaneObject, public virtual IJobDispatcher {
public:
  TJobDispatcher(std::shared_ptr<IJobQueue<>> AJobQueue, std::shared_ptr<IJobProcessorPool<>> AProcessorPool,
                 std::shared_ptr<IJobServant> AJobServant, std::shared_ptr<IJobListProvider<>> AJobListProvider);
  std::string ClassName() const override { return "TJobDispatcher"; }

  int32_t ProcessQueue() override EXCLUDES(FCriticalSection);
  TJobEvent& GetOnJobDropped() override { return FOnJobDropped; }

  // True when the job may still run; a job whose conditions must be checked again right before
  // its run (and that must run alone) is evaluated once more, and dropped when it no longer holds.
  virtual bool CheckStartCondition(const TJobPtr& AJob);

private:
  void PutBack(const TJobPtr& AJob);
  void ReturnToJobList(const TJobPtr& AJob);

  TJobEvent FOnJobDropped{"OnJobDropped"};
  const std::shared_ptr<IJobQueue<>> FJobQueue;
  const std::shared_ptr<IJobProcessorPool<>> FProcessorPool;
  const std::shared_ptr<IJobServant> FJobServant;
  TCriticalSection FCriticalSection;
  const std::shared_ptr<IJobListProvider<>> FJobListProvider;
};

}  // namespace Orvane
