#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "JobManagement/JobService/JobDispatcherIntf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobSchedulerIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Interfaces/JobService.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Threading/TaskProcessor.h"

namespace Orvane {

// The job service's one-shot mode: schedules once, dispatches, and waits until the jobs of that pass
// have finished. While a pass runs, each finished job posts the next dispatch to the task processor
// instead of waking the main loop.
//
// A pass ends when its counter reaches zero, on a reboot request, when nothing runs and nothing is
// left to dispatch (its remaining jobs were dropped, skipped or put back and can never finish), or
// after its time limit.
//
// Locks: FPassLock lets passes run one at a time; FTaskLock guards the task processor and is only
// held to take it out or post to it, never while it is joined; FCountLock is the lock of the pass's
// wait, which every change of the counter wakes. The counter and the flags are atomics, since
// processor threads change them under the pool's lock.
class TJobServiceWaitingPass {
public:
  // AReportQueue hands the queue's snapshot to the job state notifier.
  TJobServiceWaitingPass(std::shared_ptr<IJobDispatcher> ADispatcher,
                         std::shared_ptr<IJobScheduler> AScheduler,
                         std::shared_ptr<IJobListProvider<>> AJobListProvider,
                         std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
                         std::shared_ptr<IJobServant> AJobServant, std::shared_ptr<IJobQueue<>> AJobQueue,
                         std::function<void()> AReportQueue);
  ~TJobServiceWaitingPass();

  // The pass itself, on the caller's thread; ASender is the service, for the log and the idle
  // procedure. Exceptions of the scheduler, the queue and the first dispatch go to the caller.
  void Run(TOrvaneObject* ASender, const IJobService::TJobCountNotification& AJobCountNotification,
           const IJobService::TIdleProc& AIdleProc, bool AIgnoreTimings, TConditions AAllowedStartConditions)
      EXCLUDES(FPassLock, FTaskLock, FCountLock);

  // A job has finished: counts it and, while a pass waits, posts the next dispatch. False when no
  // pass waits, so the main loop should look at the queue.
  bool JobDone() EXCLUDES(FTaskLock, FCountLock);
  // Whether the running pass (or the last one) enqueued the whole job list regardless of timings.
  bool GetIgnoreTimings() const { return FIgnoreTimings.load(); }

  void EnsureTaskProcessor() EXCLUDES(FTaskLock);
  // Joined outside the lock: a job finishing meanwhile finds no processor and posts nothing.
  void FreeTaskProcessor() EXCLUDES(FTaskLock);

  void SetLimitSeconds(int32_t AValue) { FLimitSeconds.store(AValue); }

private:
  void RunNextJobInQueue() EXCLUDES(FCountLock);
  void WaitForCount(double ASeconds) EXCLUDES(FCountLock);
  void NotifyCountChanged() EXCLUDES(FCountLock);
  bool NothingPending() EXCLUDES(FTaskLock);
  bool Stalled() EXCLUDES(FTaskLock);

  const std::shared_ptr<IJobDispatcher> FDispatcher;
  const std::shared_ptr<IJobScheduler> FScheduler;
  const std::shared_ptr<IJobListProvider<>> FJobListProvider;
  const std::shared_ptr<IJobProcessorPool<>> FJobProcessorPool;
  const std::shared_ptr<IJobServant> FJobServant;
  const std::shared_ptr<IJobQueue<>> FJobQueue;
  const std::function<void()> FReportQueue;

  std::atomic<int32_t> FRunningJobCount{0};
  std::atomic<bool> FIsWaitingForJobs{false};
  std::atomic<bool> FIgnoreTimings{false};
  std::atomic<int32_t> FLimitSeconds{1800};

  TMutex FPassLock;
  TMutex FTaskLock;
  std::unique_ptr<TTaskProcessor> FTaskProcessor GUARDED_BY(FTaskLock);
  TMutex FCountLock;
  TClockCondition FCountChanged;
};

}  // namespace Orvane
