#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Platform/CriticalSection.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

template <class T = void>
class TCustomJobProcessorPool;

// Decides whether a job may start now and hands out its processor: one slot for a job that must
// run alone, a limit for jobs that may run side by side (counting the lone job too), never a second
// processor for a job that runs already. Released processors are freed at the next request or when
// the pool goes, never by their own thread.
//
// Locks: FSynchronizer (the pool's critical section, P in the lock order dispatcher, pool, job list,
// queue) guards the processor lists and the running ids; the after-request and job-done events are
// raised under it, so their handlers must not wait for a thread that needs the pool. When an
// after-request handler raises, the request is undone (the processor counts as released unstarted)
// and the failure goes to the caller.
// FRunningJobsCount changes under P but is atomic, because WaitForJobs reads it without P; the two
// flags are atomics read without a lock. The pool is always held by a shared reference; processors
// hold it weakly, and its destructor waits for their threads before anything of it goes.
template <>
class TCustomJobProcessorPool<void> : public TOrvaneObject,
                                      public virtual IJobProcessorPool<>,
                                      public std::enable_shared_from_this<TCustomJobProcessorPool<void>> {
public:
  TCustomJobProcessorPool(std::shared_ptr<IJobExecStateReporter> AJobExecStateReporter,
                          int32_t AMaxParallelProcessorCount);
  ~TCustomJobProcessorPool() override;
  std::string ClassName() const override { return "TCustomJobProcessorPool"; }

  // IJobProcessorPool
  TJobEvent& GetOnJobAborted() override { return FOnJobAborted; }
  TJobEvent& GetOnJobDone() override { return FOnJobDone; }
  TJobEvent& GetOnAfterRequestProcessor() override { return FOnAfterRequestProcessor; }
  TClassName GetJobActionClass() override = 0;
  bool CanContinueWork() override { return !FIsWaitingForJobsToFinish.load(); }
  IJobProcessor<>* RequestProcessor(const TJobPtr& AJob) override EXCLUDES(FSynchronizer);
  void ReleaseProcessor(IJobProcessor<>* AProcessor, bool ANotifyJobFinished) override EXCLUDES(FSynchronizer);
  // Waits until no job runs or ATimeoutSeconds passed; running work is asked to stop early.
  // Returns only after the job-done handlers of the last release have run.
  void WaitForJobs(int32_t ATimeoutSeconds) override EXCLUDES(FSynchronizer);
  void AllowJobExecutionForShutdown() override { FIsWaitingForJobsToFinish.store(false); }
  bool HasRunningJobs() override EXCLUDES(FSynchronizer);

  // Whether a job with this identifier (letter case aside) runs. Takes the pool's lock.
  bool IsJobRunning(const TJob& AJob) EXCLUDES(FSynchronizer);
  int32_t GetRunningJobsCount() const { return FRunningJobsCount.load(); }
  virtual int32_t GetMaxParallelProcessorCount() { return FMaxParallelProcessorCount; }

protected:
  // A new processor for the job; nullptr when none can be made.
  virtual std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr& AJob) = 0;

private:
  bool IsJobRunningLocked(const TJob& AJob) REQUIRES(FSynchronizer);
  void AddRunningJob(const TJob& AJob) REQUIRES(FSynchronizer);
  void RemoveRunningJob(const TJob& AJob) REQUIRES(FSynchronizer);
  void FreeReleasedProcessors() REQUIRES(FSynchronizer);
  // Wakes WaitForJobs to look at the running count again.
  void NotifyRunningChanged() EXCLUDES(FWaitLock);
  // Takes a processor out of the slot or the list; nullptr when the pool does not hold it.
  std::shared_ptr<IJobProcessor<>> TakeOwned(IJobProcessor<>* AProcessor) REQUIRES(FSynchronizer);

  TJobEvent FOnJobAborted{"OnJobAborted"};
  TJobEvent FOnJobDone{"OnJobDone"};
  TJobEvent FOnAfterRequestProcessor{"OnAfterRequestProcessor"};
  const std::shared_ptr<IJobExecStateReporter> FJobExecStateReporter;
  const int32_t FMaxParallelProcessorCount;

  TCriticalSection FSynchronizer;
  std::shared_ptr<IJobProcessor<>> FSerialProcessor GUARDED_BY(FSynchronizer);
  std::vector<std::shared_ptr<IJobProcessor<>>> FParallelProcessors GUARDED_BY(FSynchronizer);
  std::vector<IJobProcessor<>*> FReleasedProcessors GUARDED_BY(FSynchronizer);
  std::vector<std::string> FRunningJobIds GUARDED_BY(FSynchronizer);
  std::atomic<int32_t> FRunningJobsCount{0};
  std::atomic<bool> FIsStopping{false};
  std::atomic<bool> FIsWaitingForJobsToFinish{false};

  // WaitForJobs sleeps on FRunningChanged (under FWaitLock, never under FSynchronizer) and wakes
  // when the running count falls.
  TMutex FWaitLock;
  TClockCondition FRunningChanged;
};

class TScannerJobAction;

// The pool of the processors of TScannerJobAction jobs.
template <>
class TCustomJobProcessorPool<TScannerJobAction> : public TCustomJobProcessorPool<>,
                                                   public virtual IJobProcessorPool<TScannerJobAction> {
public:
  using TCustomJobProcessorPool<>::TCustomJobProcessorPool;
  std::string ClassName() const override { return "TCustomJobProcessorPool<TScannerJobAction>"; }
  TClassName GetJobActionClass() override { return "TScannerJobAction"; }
};

}  // namespace Orvane
