#include "JobManagement/JobProcessor/CustomJobProcessor.h"

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/ComInit.h"
#include "OrvaneCore/Platform/Guid.h"

namespace Orvane {

namespace {
// How long freeing a processor waits for its run to pass its last step.
constexpr int64_t CFinishWaitMs = 5000;
}  // namespace

TCustomJobProcessor<>::TCustomJobProcessor() = default;

TCustomJobProcessor<>::~TCustomJobProcessor() { FinishBeforeDestruction(); }

void TCustomJobProcessor<>::FinishBeforeDestruction() {
  if (FFinishedBeforeDestruction) return;
  FFinishedBeforeDestruction = true;
  const std::string LName = ClassName() + ".Destroy";
  OrvaneLogger()->TraceEnter(LName);
  // A processor never started has no run to wait for.
  if (GetStarted()) FExecutionFinishedEvent.WaitFor(CFinishWaitMs);
  TerminateAndWaitFor();
  OrvaneLogger()->TraceExit(LName);
}

TJobPtr TCustomJobProcessor<>::GetJob() {
  TMutexLock LLock(FLock);
  return FJob;
}

void TCustomJobProcessor<>::SetJob(const TJobPtr& AJob) {
  TMutexLock LLock(FLock);
  FJob = AJob;
}

void TCustomJobProcessor<>::SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>& APool) {
  TMutexLock LLock(FLock);
  FProcessorPool = APool;
  FProcessorPoolObject = APool.get();
}

IJobProcessorPool<>* TCustomJobProcessor<>::GetProcessorPool() {
  TMutexLock LLock(FLock);
  return FProcessorPool.expired() ? nullptr : FProcessorPoolObject;
}

void TCustomJobProcessor<>::SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>& AReporter) {
  TMutexLock LLock(FLock);
  FExecStateReporter = AReporter;
}

TJobResult TCustomJobProcessor<>::ProcessAndWaitForJob() { return InternalProcessJob(); }

void TCustomJobProcessor<>::ProcessJob(const TJobPtr& AJob) {
  SetJob(AJob);
  Start();
}

std::string TCustomJobProcessor<>::CreateExecutionId() { return CreateGuidString(); }

bool TCustomJobProcessor<>::ReportExecState(bool AStarted, TJobResult AResult) {
  TJobPtr LJob;
  std::shared_ptr<IJobExecStateReporter> LReporter;
  {
    TMutexLock LLock(FLock);
    LJob = FJob;
    LReporter = FExecStateReporter;
  }
  const std::shared_ptr<TJobAction> LAction = LJob ? LJob->GetJobAction() : nullptr;
  if (LReporter && LAction && !LAction->ExecutionId.empty()) {
    if (AStarted) return LReporter->ReportJobStarted(LAction->ExecutionId, LJob->GetIdentifier(), "");
    LReporter->ReportJobFinished(LAction->ExecutionId, LJob->GetIdentifier(), AResult, "");
    return false;
  }
  IOrvaneLogger* LLog = OrvaneLogger();
  if (LLog->IsActive()) {
    LLog->Message("No exec state reported");
    LLog->BooleanValue("Is ExecStateReporter assigned", LReporter != nullptr);
    LLog->MessageObject("Job", LJob.get());
    LLog->MessageObject("Job action", LAction.get());
  }
  return false;
}

void TCustomJobProcessor<>::RunGuarded(const TJobPtr& AJob) {
  IOrvaneLogger* LLog = OrvaneLogger();
  TJobResult LResult = TJobResult::jrNoResult;
  AJob->SetLastResult(LResult);
  try {
    if (ReportExecState(true, LResult)) {
      LLog->Warning("Job execution aborted by Tessra Server");
      if (IJobProcessorPool<>* LPool = GetProcessorPool()) LPool->GetOnJobAborted().Invoke(AJob);
      return;
    }
    try {
      LResult = ProcessAndWaitForJob();
      AJob->SetLastResult(LResult);
    } catch (...) {
      // The finish is reported with "no result" before the failure is logged.
      if (ShouldNotifyJobFinished()) ReportExecState(false, LResult);
      throw;
    }
    if (ShouldNotifyJobFinished()) ReportExecState(false, LResult);
  } catch (...) {
    LogCurrentException("");
    LLog->MessageObject("Failed job", AJob.get());
  }
}

void TCustomJobProcessor<>::Execute() {
  CoInitialize();
  IOrvaneLogger* LLog = OrvaneLogger();
  try {
    const TJobPtr LJob = GetJob();
    if (LJob) {
      const std::string LDisplay = LJob->GetDisplayText();
      LLog->MessageObject("Process: \"%s\"", {LDisplay}, LJob.get());
      LLog->StringValue(ClassName(), FormatLogText("Process: %s", {LDisplay}));
      const std::shared_ptr<TJobAction> LAction = LJob->GetJobAction();
      if (!LJob->GetIsManual() && LAction) {
        // Written only when it changes: the job list copies a running job's action (a snapshot for
        // the host), and agent-task runs always keep the empty id.
        std::string LExecutionId = CreateExecutionId();
        if (LAction->ExecutionId != LExecutionId) {
          LAction->ExecutionId = std::move(LExecutionId);
          LAction->MarkChanged();
        }
      }
      if (LAction) LLog->MessageObject("Job action [%s]", {LAction->ClassName()}, LAction.get());

      RunGuarded(LJob);

      // After the release the pool may free this processor from another thread, but only once the
      // finished event below has been signalled. A job-done handler that raises does not keep the
      // job from being marked finished.
      try {
        if (IJobProcessorPool<>* LPool = GetProcessorPool()) LPool->ReleaseProcessor(this, ShouldNotifyJobFinished());
      } catch (...) {
        LogCurrentException("");
      }
      {
        TMutexLock LLock(FLock);
        FProcessorPool.reset();
        FProcessorPoolObject = nullptr;
      }
      // Read before the job is marked finished: from then on the job list may assign into it.
      const bool LManual = LJob->GetIsManual();
      LJob->SetExecState(TJobExecState::Finished);
      if (LManual) SetJob(nullptr);
      LLog->StringValue(ClassName(), "");
    }
  } catch (...) {
    LogCurrentException("");
  }
  FExecutionFinishedEvent.SetEvent();
  CoUninitialize();
}

bool TCustomJobProcessor<TScannerJobAction>::CanProcessJobAction(const TClassName& AJobActionClass) {
  return TClassRegistry::Instance().InheritsFrom(AJobActionClass, "TScannerJobAction");
}

}  // namespace Orvane
