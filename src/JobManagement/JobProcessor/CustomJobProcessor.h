#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Interfaces/JobExecStateReporter.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Threading/OrvaneThread.h"
#include "OrvaneCore/Time/WaitableEvent.h"

namespace Orvane {

template <class T = void>
class TCustomJobProcessor;

// Runs one job on a thread of its own: reports the start (the server may answer that it aborted
// this execution), runs the work, reports the result, gives itself back to the pool, marks the job
// finished and lets go of a manual job. Processors are made per job and never reused.
//
// Threads: ProcessJob starts the processor's thread, which performs the run once. The pool frees
// the processor later, on another thread; the destructor waits (bounded) for the run's last step,
// then joins. A processor released without being started has no thread: freeing it neither runs
// the job nor waits.
//
// The pool is held weakly, never strongly, so that a processor's thread never ends up destroying
// its pool: a pool that has gone is not released to, and a pool being destroyed first waits for
// its processors' threads to end, so calls made from the run reach a pool that is still whole.
// FJob is guarded by FLock: the dispatcher may hand the job over (SetJob) while the pool asks for
// it (GetJob).
template <>
class TCustomJobProcessor<void> : public TOrvaneThread, public virtual IJobProcessor<> {
public:
  TCustomJobProcessor();
  ~TCustomJobProcessor() override;
  std::string ClassName() const override { return "TCustomJobProcessor"; }

  // IJobProcessor
  TJobPtr GetJob() override EXCLUDES(FLock);
  void SetJob(const TJobPtr& AJob) override EXCLUDES(FLock);
  TJobResult ProcessAndWaitForJob() override;
  void ProcessJob(const TJobPtr& AJob) override;
  void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>& APool) override EXCLUDES(FLock);
  void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>& AReporter) override EXCLUDES(FLock);

  // Whether the finish is reported and whether the pool announces the finished job.
  virtual bool ShouldNotifyJobFinished() { return true; }
  // A new braced GUID (38 characters) per run of a scheduled job.
  virtual std::string CreateExecutionId();

protected:
  // The job's work, on the calling thread.
  virtual TJobResult InternalProcessJob() = 0;
  void Execute() override;

  // The pool, or nullptr when it has gone (or was never set).
  IJobProcessorPool<>* GetProcessorPool() EXCLUDES(FLock);
  // Waits (bounded) for the run's last step, then for the thread; once. A descendant whose work uses
  // its own members calls it first in its destructor.
  void FinishBeforeDestruction();

private:
  bool ReportExecState(bool AStarted, TJobResult AResult);
  void RunGuarded(const TJobPtr& AJob);

  mutable TMutex FLock;
  TJobPtr FJob GUARDED_BY(FLock);
  std::weak_ptr<IJobProcessorPool<>> FProcessorPool GUARDED_BY(FLock);
  IJobProcessorPool<>* FProcessorPoolObject GUARDED_BY(FLock) = nullptr;
  std::shared_ptr<IJobExecStateReporter> FExecStateReporter GUARDED_BY(FLock);
  // Signalled at the very end of every run; the destructor waits for it before joining.
  TWaitableEvent FExecutionFinishedEvent{false, false};
  bool FFinishedBeforeDestruction = false;  // destructor only
};

// A processor for the jobs of TScannerJobAction and its descendants.
template <>
class TCustomJobProcessor<TScannerJobAction> : public TCustomJobProcessor<>,
                                               public virtual IJobProcessor<TScannerJobAction> {
public:
  std::string ClassName() const override { return "TCustomJobProcessor<TScannerJobAction>"; }
  bool CanProcessJobAction(const TClassName& AJobActionClass) override;
};

}  // namespace Orvane
