#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "JobManagement/JobService/JobDispatcherIntf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobSchedulerIntf.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "JobManagement/JobService/JobServiceWaitingPass.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Interfaces/JobService.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// The job service: turn by turn its main loop asks the scheduler to queue the due jobs, lets the
// dispatcher hand them to processors, then waits for its time-out, which events shorten or
// lengthen. RunAndWaitForJobs schedules once and waits until the jobs of that pass have finished
// (TJobServiceWaitingPass).
//
// Threads: the thread of Start (or the worker of StartAsync, which the clock knows as
// "TJobService.Worker"); processor threads, which raise the pool's events (job done under the
// pool's lock); the waiting pass's task processor; host threads, which call Stop and
// RunAndWaitForJobs and raise the servant's, the job list's and the run information's events. Every
// guard of these threads catches whatever is thrown.
//
// Condition storages: a finished job marks them dirty instead of saving them, and they are saved at
// most once a second: by the job-done handler when a second has passed since the last save, else by
// the main loop's wait when that second ends, so a crash loses at most the last second's runs. When
// the main loop does not run (a stop, a waiting pass of a stopped service) every finished job saves
// them, and every stop and waiting pass ends with a save of what is dirty.
//
// Locks: FStateLock guards the wait of a turn (time-out, its deadline), the condition storages'
// dirty state and the notifier and run information references; every change the loop waits for notifies FStateChanged, so a wait ends
// at once, not at the next poll. FAsyncLock guards the worker thread; it is only held to take the
// thread out, never while it is joined. The flags the loop polls are atomics.
class TJobService : public TOrvaneObject, public virtual IJobService {
public:
  TJobService(std::shared_ptr<IJobDispatcher> ADispatcher, std::shared_ptr<IJobScheduler> AScheduler,
              std::shared_ptr<IJobListProvider<>> AJobListProvider, std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
              std::shared_ptr<IJobServant> AJobServant, std::shared_ptr<IJobQueue<>> AJobQueue,
              TSystemRunInfoPtr ASystemRunInfo, int32_t ATimeOut, std::string AJobServiceName = "");
  ~TJobService() override;
  std::string ClassName() const override { return "TJobService"; }

  // IJobService
  TSystemRunInfoPtr GetSystemRunInfo() override EXCLUDES(FStateLock);
  void SetSystemRunInfo(const TSystemRunInfoPtr& AValue) override EXCLUDES(FStateLock);
  int32_t GetStartDelayInSeconds() override { return FStartDelayInSeconds.load(); }
  void SetStartDelayInSeconds(int32_t AValue) override { FStartDelayInSeconds.store(AValue); }
  TJobEvent& GetOnAfterRequestProcessor() override;
  std::shared_ptr<IJobStateNotifier> GetJobStateNotifier() override EXCLUDES(FStateLock);
  void SetJobStateNotifier(const std::shared_ptr<IJobStateNotifier>& AValue) override EXCLUDES(FStateLock);
  TJobList FetchJobList() override;
  void RunAndWaitForJobs(const TJobCountNotification& AJobCountNotification, const TIdleProc& AIdleProc,
                         bool AIgnoreTimings, TConditions AAllowedStartConditions) override;
  void Start() override;
  void StartAsync(TThreadPriority APriority) override EXCLUDES(FAsyncLock);
  void PrepareStop() override;
  void Stop() override EXCLUDES(FAsyncLock);

  // One turn of the main loop; false when a system shutdown in progress ends the loop.
  bool RunTurn();
  // The time-out of the current turn, in seconds; a change restarts the wait that runs.
  void SetTimeOut(int32_t ASeconds) EXCLUDES(FStateLock);
  bool GetIsRunning() const { return FIsRunning.load(); }
  bool GetIsStopped() const { return FIsStopped.load(); }
  // A waiting pass whose jobs can no longer finish (nothing runs, nothing is left to dispatch)
  // ends; so does one that lasts longer than this.
  void SetWaitingPassLimitSeconds(int32_t AValue) { FWaitingPass.SetLimitSeconds(AValue); }

private:
  void OnPullRequestReceived();
  void OnManualJobsChanged();
  void OnJobStartAllowed();
  void OnJobStartDenied();
  void OnJobDropped(const TJobPtr& AJob);
  void OnAfterRequestProcessor(const TJobPtr& AJob);
  void OnJobAborted(const TJobPtr& AJob);
  void OnJobDone(const TJobPtr& AJob);
  void OnSystemShutdown();

  void RunMainLoop();
  // Inside the catch block of a failed turn: the failure and the loop's state.
  void LogTurnFailure();
  // Waits until the current turn's deadline passes or the loop is asked to stop.
  void WaitForTurnEnd() EXCLUDES(FStateLock);
  // Waits up to ASeconds while APredicate is false; woken by every state change.
  template <class TPredicate>
  void WaitWhile(double ASeconds, TPredicate APredicate) EXCLUDES(FStateLock);
  void NotifyStateChanged() EXCLUDES(FStateLock);
  // Saves the condition storages when they are dirty and AForce is set or a second has passed since
  // the last save.
  void SaveConditionStoragesIfDue(bool AForce) EXCLUDES(FStateLock);
  // The wall-clock moment the current wait ends, for the log.
  TDateTime WaitTill() REQUIRES(FStateLock);
  std::shared_ptr<IJobStateNotifier> Notifier() EXCLUDES(FStateLock) { return GetJobStateNotifier(); }
  // Hands the queue's snapshot to the notifier.
  void ReportQueue() EXCLUDES(FStateLock);

  const std::shared_ptr<IJobDispatcher> FDispatcher;
  const std::shared_ptr<IJobScheduler> FScheduler;
  const std::shared_ptr<IJobListProvider<>> FJobListProvider;
  const std::shared_ptr<IJobProcessorPool<>> FJobProcessorPool;
  const std::shared_ptr<IJobQueue<>> FJobQueue;
  const std::shared_ptr<IJobServant> FJobServant;
  const int32_t FDefaultTimeOut;
  const int32_t FTerminationTimeout = 30;
  const std::string FName;

  std::atomic<bool> FIsRunning{false};
  std::atomic<bool> FIsStopped{true};
  std::atomic<int32_t> FStartDelayInSeconds{0};

  TMutex FStateLock;
  TClockCondition FStateChanged;
  int32_t FTimeOut GUARDED_BY(FStateLock);
  TMonoTime FWaitDeadline GUARDED_BY(FStateLock) = CNoDeadline;
  std::shared_ptr<IJobStateNotifier> FJobStateNotifier GUARDED_BY(FStateLock);
  TSystemRunInfoPtr FSystemRunInfo GUARDED_BY(FStateLock);
  TNotifyEvent::TToken FShutdownToken GUARDED_BY(FStateLock) = 0;
  bool FConditionStoragesDirty GUARDED_BY(FStateLock) = false;
  // The earliest moment of the next save of the condition storages, a second after the last one.
  TMonoTime FConditionSaveDue GUARDED_BY(FStateLock) = TMonoTime::min();

  TMutex FAsyncLock;
  std::unique_ptr<TOrvaneThread> FAsync GUARDED_BY(FAsyncLock);
  TJobServiceWaitingPass FWaitingPass;

  // Subscriptions, removed in the destructor.
  TJobEvent::TToken FDroppedToken = 0, FDoneToken = 0, FAbortedToken = 0, FAfterRequestToken = 0;
  TJobEvent::TToken FManualJobsToken = 0;
  TNotifyEvent::TToken FPullToken = 0;
};

}  // namespace Orvane
