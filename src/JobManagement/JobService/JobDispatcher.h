#pragma once

#include <map>
#include <memory>
#include <string>

#include "JobManagement/JobService/JobDispatcherIntf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Base/Strings.h"
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
//
// A failure between the processor request and the hand-over is rolled back: the processor goes
// back to the pool unannounced, the job gets its state and due time back, a manual job returns to
// the queue, and the failure leaves the call. A job whose hand-over fails three times in a row is
// dropped instead and the call goes on, so that one job that can never start does not keep the
// others from starting.
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
  enum class THandOver { Started, NoProcessor, Refused, Dropped };

  void PutBack(const TJobPtr& AJob);
  void ReturnToJobList(const TJobPtr& AJob);
  // Requests a processor for the job and hands the job over; rolls a failure back (see above).
  THandOver HandOver(const TJobPtr& AJob) REQUIRES(FCriticalSection);
  // Inside the catch block of a failed hand-over: the third failure in a row drops the job (true),
  // an earlier one is left to the caller (false).
  bool DropAfterFailedHandOver(const TJobPtr& AJob) REQUIRES(FCriticalSection);

  TJobEvent FOnJobDropped{"OnJobDropped"};
  const std::shared_ptr<IJobQueue<>> FJobQueue;
  const std::shared_ptr<IJobProcessorPool<>> FProcessorPool;
  const std::shared_ptr<IJobServant> FJobServant;
  TCriticalSection FCriticalSection;
  const std::shared_ptr<IJobListProvider<>> FJobListProvider;
  // Failed hand-overs in a row, by job identifier (letter case aside); a hand-over clears its entry.
  std::map<std::string, int, TTextLess> FHandOverFailures GUARDED_BY(FCriticalSection);
};

}  // namespace Orvane
