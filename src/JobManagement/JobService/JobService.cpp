#include "JobManagement/JobService/JobService.h"

#include <algorithm>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {
constexpr const char* CNoPool = "ProcessorPool is not assigned in TJobService";
// The time-out while the servant denies job starts.
constexpr int32_t CDeniedTimeOut = 300;
// A turn that failed waits this long before the next, so a lasting fault cannot spin the loop.
constexpr double CFailedTurnPause = 1.0;
// The condition storages are saved at most this often while the main loop runs.
constexpr double CConditionSaveInterval = 1.0;
}  // namespace

TJobService::TJobService(std::shared_ptr<IJobDispatcher> ADispatcher, std::shared_ptr<IJobScheduler> AScheduler,
                         std::shared_ptr<IJobListProvider<>> AJobListProvider,
                         std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool, std::shared_ptr<IJobServant> AJobServant,
                         std::shared_ptr<IJobQueue<>> AJobQueue, TSystemRunInfoPtr ASystemRunInfo, int32_t ATimeOut,
                         std::string AJobServiceName)
    : FDispatcher(std::move(ADispatcher)),
      FScheduler(std::move(AScheduler)),
      FJobListProvider(std::move(AJobListProvider)),
      FJobProcessorPool(std::move(AJobProcessorPool)),
      FJobQueue(std::move(AJobQueue)),
      FJobServant(std::move(AJobServant)),
      FDefaultTimeOut(ATimeOut),
      FName(std::move(AJobServiceName)),
      FTimeOut(ATimeOut),
      FWaitingPass(FDispatcher, FScheduler, FJobListProvider, FJobProcessorPool, FJobServant, FJobQueue,
                   [this] { ReportQueue(); }) {
  // Checked before any subscription: a constructor that fails leaves no handler behind.
  if (!FJobProcessorPool) throw EInvalidPointer(CNoPool);
  if (FDispatcher) FDroppedToken = FDispatcher->GetOnJobDropped().Add([this](const TJobPtr& A) { OnJobDropped(A); });
  SetSystemRunInfo(ASystemRunInfo);
  FManualJobsToken = FJobListProvider->GetOnManualJobsChanged().Add([this](const TJobPtr&) { OnManualJobsChanged(); });
  FPullToken = FJobListProvider->GetOnPullRequestReceived().Add([this](TOrvaneObject*) { OnPullRequestReceived(); });
  FAfterRequestToken =
      FJobProcessorPool->GetOnAfterRequestProcessor().Add([this](const TJobPtr& A) { OnAfterRequestProcessor(A); });
  FDoneToken = FJobProcessorPool->GetOnJobDone().Add([this](const TJobPtr& A) { OnJobDone(A); });
  FAbortedToken = FJobProcessorPool->GetOnJobAborted().Add([this](const TJobPtr& A) { OnJobAborted(A); });
}

TJobService::~TJobService() {
  bool LHasThread;
  {
    TMutexLock LLock(FAsyncLock);
    LHasThread = FAsync != nullptr;
  }
  if (FIsRunning.load() || LHasThread) Stop();
  FWaitingPass.FreeTaskProcessor();
  SetSystemRunInfo(nullptr);
  FJobProcessorPool->GetOnAfterRequestProcessor().Remove(FAfterRequestToken);
  FJobProcessorPool->GetOnJobDone().Remove(FDoneToken);
  FJobProcessorPool->GetOnJobAborted().Remove(FAbortedToken);
  FJobListProvider->GetOnManualJobsChanged().Remove(FManualJobsToken);
  FJobListProvider->GetOnPullRequestReceived().Remove(FPullToken);
  if (FDispatcher) FDispatcher->GetOnJobDropped().Remove(FDroppedToken);
  SetJobStateNotifier(nullptr);
}

// ---- Properties

TSystemRunInfoPtr TJobService::GetSystemRunInfo() {
  TMutexLock LLock(FStateLock);
  return FSystemRunInfo;
}

void TJobService::SetSystemRunInfo(const TSystemRunInfoPtr& AValue) {
  TSystemRunInfoPtr LOld;
  TNotifyEvent::TToken LOldToken;
  {
    TMutexLock LLock(FStateLock);
    if (AValue == FSystemRunInfo) return;
    LOld = FSystemRunInfo;
    LOldToken = FShutdownToken;
    FSystemRunInfo = AValue;
    FShutdownToken = 0;
  }
  // Handlers are added and removed outside the lock: removal waits for a running handler.
  if (LOld) LOld->GetSystemShutdown().Remove(LOldToken);
  if (AValue) {
    const auto LToken = AValue->GetSystemShutdown().Add([this](TOrvaneObject*) { OnSystemShutdown(); });
    TMutexLock LLock(FStateLock);
    FShutdownToken = LToken;
  }
  if (FJobListProvider) FJobListProvider->SetSystemRunInfo(AValue);
}

TJobEvent& TJobService::GetOnAfterRequestProcessor() {
  if (!FJobProcessorPool) throw EInvalidPointer(CNoPool);
  return FJobProcessorPool->GetOnAfterRequestProcessor();
}

std::shared_ptr<IJobStateNotifier> TJobService::GetJobStateNotifier() {
  TMutexLock LLock(FStateLock);
  return FJobStateNotifier;
}

void TJobService::SetJobStateNotifier(const std::shared_ptr<IJobStateNotifier>& AValue) {
  std::shared_ptr<IJobStateNotifier> LOld;
  {
    TMutexLock LLock(FStateLock);
    if (AValue == FJobStateNotifier) return;
    LOld = FJobStateNotifier;
    FJobStateNotifier = AValue;
  }
  if (LOld) LOld->DetachJobListProvider(FJobListProvider);
  if (AValue) AValue->AttachJobListProvider(FJobListProvider);
}

TJobList TJobService::FetchJobList() { return FJobListProvider->FetchJobList(); }

// ---- Time-out and waits

void TJobService::SetTimeOut(int32_t ASeconds) {
  {
    TMutexLock LLock(FStateLock);
    if (ASeconds == FTimeOut) return;
    FTimeOut = ASeconds;
    FWaitDeadline = Clock().DeadlineIn(ASeconds);
  }
  OrvaneLogger()->Message("Changed time out to %d seconds", {ASeconds});
  FStateChanged.NotifyAll();
}

TDateTime TJobService::WaitTill() {
  if (FWaitDeadline == CNoDeadline) return CNoDateTime;
  return IncSeconds(Now(), std::chrono::duration<double>(FWaitDeadline - Clock().Monotonic()).count());
}

void TJobService::NotifyStateChanged() {
  { TMutexLock LLock(FStateLock); }
  FStateChanged.NotifyAll();
}

void TJobService::WaitForTurnEnd() {
  {
    TMutexLock LLock(FStateLock);
    FWaitDeadline = Clock().DeadlineIn(FTimeOut);
  }
  for (;;) {
    SaveConditionStoragesIfDue(false);
    TMutexLock LLock(FStateLock);
    // The deadline may move while we wait (SetTimeOut): each sleep takes the current one.
    if (!FIsRunning.load() || Clock().Monotonic() >= FWaitDeadline) return;
    const TMonoTime LSaveDue = FConditionStoragesDirty ? FConditionSaveDue : CNoDeadline;
    Clock().WaitOnce(FStateChanged, TWaitLock::Of(LLock), std::min(FWaitDeadline, LSaveDue));
  }
}

void TJobService::SaveConditionStoragesIfDue(bool AForce) {
  {
    TMutexLock LLock(FStateLock);
    if (!FConditionStoragesDirty) return;
    const TMonoTime LNow = Clock().Monotonic();
    if (!AForce && LNow < FConditionSaveDue) return;
    // Cleared before the save: a job that ends during it marks the storages for the next one.
    FConditionStoragesDirty = false;
    FConditionSaveDue = Clock().DeadlineIn(CConditionSaveInterval);
  }
  try {
    FJobListProvider->SaveConditionStorages();
  } catch (...) {
    LogCurrentException(MakeContext(*this, "SaveConditionStorages"));
    {
      TMutexLock LLock(FStateLock);
      FConditionStoragesDirty = true;  // tried again a second later
    }
    FStateChanged.NotifyAll();
  }
}

template <class TPredicate>
void TJobService::WaitWhile(double ASeconds, TPredicate APredicate) {
  const TMonoTime LDeadline = Clock().DeadlineIn(ASeconds);
  TMutexLock LLock(FStateLock);
  Clock().Wait(FStateChanged, LLock, LDeadline, [&] { return !APredicate(); });
}

// ---- Event handlers

void TJobService::OnPullRequestReceived() {
  FJobListProvider->SetLoadListFromServerOnNextFetch(true);
  SetTimeOut(0);
}

void TJobService::OnManualJobsChanged() { SetTimeOut(0); }

void TJobService::OnJobStartAllowed() { SetTimeOut(FDefaultTimeOut); }

void TJobService::OnJobStartDenied() {
  SetTimeOut(CDeniedTimeOut);
  OrvaneLogger()->Warning("System will wait five minutes before the next job will be started");
  FJobListProvider->SetLoadListFromServerOnNextFetch(true);
}

void TJobService::OnJobDropped(const TJobPtr& AJob) {
  if (const auto LNotifier = Notifier()) LNotifier->JobDropped(AJob);
}

void TJobService::OnAfterRequestProcessor(const TJobPtr& AJob) {
  if (const auto LNotifier = Notifier()) LNotifier->JobProcessorAssigned(AJob);
}

void TJobService::OnJobAborted(const TJobPtr& AJob) {
  FJobListProvider->SetLoadListFromServerOnNextFetch(true);
  if (const auto LNotifier = Notifier()) LNotifier->JobAborted(AJob);
}

void TJobService::OnJobDone(const TJobPtr& AJob) {
  // Runs on the processor's thread under the pool's lock.
  AJob->GetStartCondition()->SetAlreadyRunFlag(true);
  // The run is over: the manual job leaves the queue's file, which kept it for a crash meanwhile.
  if (AJob->GetIsManual()) FJobQueue->RunEnded(AJob);
  // Marked, and saved now only when a second has passed since the last save or the main loop does
  // not run; otherwise the loop's wait saves when the second ends. A failed save is logged and
  // costs the job nothing: the count, the next dispatch and the notifier still follow.
  if (!FWaitingPass.GetIgnoreTimings()) {
    {
      TMutexLock LLock(FStateLock);
      FConditionStoragesDirty = true;
    }
    FStateChanged.NotifyAll();
    SaveConditionStoragesIfDue(!FIsRunning.load());
  }
  if (!FWaitingPass.JobDone()) SetTimeOut(0);
  if (const auto LNotifier = Notifier()) LNotifier->JobDone(AJob);
}

void TJobService::OnSystemShutdown() {
  if (FJobServant) FJobServant->SetRebootRequested(false);
  Stop();
  FJobProcessorPool->AllowJobExecutionForShutdown();
  RunAndWaitForJobs(nullptr, nullptr, false, CShutdownConditions);
  if (const auto LRunInfo = GetSystemRunInfo()) LRunInfo->SetIsShutdownPass(false);
}

// ---- Main loop

bool TJobService::RunTurn() {
  if (FJobServant && FJobServant->GetIsSystemShutdownInProgress()) {
    OrvaneLogger()->Message("System shutdown is in progress. Stop job service");
    return false;
  }
  if (FScheduler) FScheduler->UpdateQueue(CAllConditions);
  ReportQueue();
  if (FDispatcher) FDispatcher->ProcessQueue();
  if (const auto LRunInfo = GetSystemRunInfo()) LRunInfo->SetIsStartupPass(false);
  WaitForTurnEnd();
  SetTimeOut(FDefaultTimeOut);
  return true;
}

void TJobService::LogTurnFailure() {
  IOrvaneLogger* LLog = OrvaneLogger();
  LogCurrentException(FName);
  LLog->Error("TJobService.Running");
  const TSystemRunInfoPtr LRunInfo = GetSystemRunInfo();
  int32_t LTimeOut;
  TDateTime LWaitTill;
  {
    TMutexLock LLock(FStateLock);
    LTimeOut = FTimeOut;
    LWaitTill = WaitTill();
  }
  LLog->BeginGroup("Extended information");
  LLog->BooleanValue("FIsRunning", FIsRunning.load());
  LLog->BooleanValue("Assigned(FScheduled)", FScheduler != nullptr);
  LLog->BooleanValue("Assigned(FJobStateNotifier)", Notifier() != nullptr);
  LLog->BooleanValue("Assigned(FDispatcher)", FDispatcher != nullptr);
  LLog->BooleanValue("Assigned(FSystemRunInfo)", LRunInfo != nullptr);
  LLog->ObjectValue("SystemRunInfo", LRunInfo.get());
  LLog->IntegerValue("FTimeOut", LTimeOut);
  LLog->DateTimeValue("FWaitWill", LWaitTill);
  LLog->EndGroup();
}

void TJobService::RunMainLoop() {
  while (FIsRunning.load()) {
    try {
      if (!RunTurn()) break;
    } catch (...) {
      LogTurnFailure();
      WaitWhile(CFailedTurnPause, [this] { return FIsRunning.load(); });
    }
  }
}

void TJobService::Start() {
  FIsRunning.store(true);
  FIsStopped.store(false);
  FWaitingPass.EnsureTaskProcessor();
  TNotifyEvent::TToken LAllowedToken = 0, LDeniedToken = 0;
  try {
    FJobQueue->LoadQueuedManualJobs();
    if (FJobServant) {
      LAllowedToken = FJobServant->GetOnJobStartAllowed().Add([this](TOrvaneObject*) { OnJobStartAllowed(); });
      LDeniedToken = FJobServant->GetOnJobStartDenied().Add([this](TOrvaneObject*) { OnJobStartDenied(); });
    }
  } catch (...) {
    if (FJobServant) FJobServant->GetOnJobStartAllowed().Remove(LAllowedToken);
    throw;
  }
  RunMainLoop();
  if (FJobServant) {
    FJobServant->GetOnJobStartAllowed().Remove(LAllowedToken);
    FJobServant->GetOnJobStartDenied().Remove(LDeniedToken);
  }
  FJobProcessorPool->WaitForJobs(FTerminationTimeout);
  SaveConditionStoragesIfDue(true);
  FIsStopped.store(true);
  NotifyStateChanged();
}

void TJobService::StartAsync(TThreadPriority APriority) {
  bool LHasThread;
  {
    TMutexLock LLock(FAsyncLock);
    LHasThread = FAsync != nullptr;
  }
  if (LHasThread) Stop();
  // Set before the thread exists, so that a Stop right after this call is never undone by it.
  FIsRunning.store(true);
  FIsStopped.store(false);
  auto LThread = TOrvaneThread::CreateAnonymousThread([this] {
    Clock().NameCurrentThread(ClassName() + ".Worker");
    try {
      WaitWhile(FStartDelayInSeconds.load(), [this] { return FIsRunning.load(); });
      if (FIsRunning.load()) Start();
    } catch (...) {
      OrvaneLogger()->Error(ClassName() + " stopped working");
      LogCurrentException(FormatLogText("Job service [%s] exception details", {FName}));
    }
    if (!FIsRunning.load()) {
      // Stopped during the start delay: nothing to wait for.
      FIsStopped.store(true);
      NotifyStateChanged();
    }
  });
  LThread->SetPriority(APriority);
  LThread->SetFreeOnTerminate(false);
  TMutexLock LLock(FAsyncLock);
  FAsync = std::move(LThread);
  FAsync->Start();
}

void TJobService::PrepareStop() {
  FIsRunning.store(false);
  if (const auto LRunInfo = GetSystemRunInfo()) LRunInfo->SetIsStopping(true);
  NotifyStateChanged();
}

void TJobService::Stop() {
  PrepareStop();
  std::unique_ptr<TOrvaneThread> LAsync;
  {
    TMutexLock LLock(FAsyncLock);
    LAsync = std::move(FAsync);
  }
  LAsync.reset();  // joins the worker outside the lock
  FWaitingPass.FreeTaskProcessor();
  WaitWhile(FTerminationTimeout, [this] { return !FIsStopped.load(); });
  SaveConditionStoragesIfDue(true);
  FJobListProvider->SaveQueuedManualJobs();
  FJobQueue->SaveQueuedManualJobs();
}

void TJobService::ReportQueue() {
  if (const auto LNotifier = Notifier()) LNotifier->JobQueueChanged(FJobQueue->CreateSnapshot());
}

void TJobService::RunAndWaitForJobs(const TJobCountNotification& AJobCountNotification, const TIdleProc& AIdleProc,
                                    bool AIgnoreTimings, TConditions AAllowedStartConditions) {
  FWaitingPass.Run(this, AJobCountNotification, AIdleProc, AIgnoreTimings, AAllowedStartConditions);
  SaveConditionStoragesIfDue(true);
}

}  // namespace Orvane
