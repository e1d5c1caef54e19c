#include "JobManagement/JobService/JobDispatcher.h"

#include <vector>

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TJobDispatcher::TJobDispatcher(std::shared_ptr<IJobQueue<>> AJobQueue,
                               std::shared_ptr<IJobProcessorPool<>> AProcessorPool,
                               std::shared_ptr<IJobServant> AJobServant,
                               std::shared_ptr<IJobListProvider<>> AJobListProvider)
    : FJobQueue(std::move(AJobQueue)),
      FProcessorPool(std::move(AProcessorPool)),
      FJobServant(std::move(AJobServant)),
      FJobListProvider(std::move(AJobListProvider)) {}

void TJobDispatcher::PutBack(const TJobPtr& AJob) {
  // A scheduled job is queued again by the scheduler when it is due.
  if (AJob->GetIsManual()) FJobQueue->EnqueueJob(AJob);
}

void TJobDispatcher::ReturnToJobList(const TJobPtr& AJob) {
  if (AJob->GetIsManual() && FJobListProvider) FJobListProvider->AddManualJob(AJob);
}

bool TJobDispatcher::CheckStartCondition(const TJobPtr& AJob) {
  const TStartConditionFacadePtr LFacade = AJob->GetStartCondition();
  if (!LFacade->GetReEvaluateBeforeRun() || AJob->GetCanRunParallel()) return true;
  LFacade->SetIsReEvaluationRun(true);
  struct TResetReEvaluation {
    TStartConditionFacade& FFacade;
    ~TResetReEvaluation() { FFacade.SetIsReEvaluationRun(false); }
  } LReset{*LFacade};
  if (LFacade->CalcNextExecution(Now()) != CNoDateTime) return true;
  IOrvaneLogger* LLog = OrvaneLogger();
  LLog->Warning("Job is dropped, because it's start condition is not fulfilled anymore");
  LFacade->SetAlreadyRunFlag(false);
  LLog->MessageObject("Dropped job", AJob.get());
  FOnJobDropped.Invoke(AJob);
  return false;
}

int32_t TJobDispatcher::ProcessQueue() {
  IOrvaneLogger* LLog = OrvaneLogger();
  LLog->TraceEnter("ProcessQueue", this);
  int32_t LCount = 0;
  {
    TCriticalSectionLock LLock(FCriticalSection);
    std::vector<TJobPtr> LSkipped;
    TJobPtr LJob;
    // Whatever leaves the call, a manual job in hand and the skipped ones are not lost.
    try {
      LJob = FJobQueue->DequeueNextJob();
      while (LJob) {
        if (FJobServant && FJobServant->GetIsSystemShutdownInProgress()) {
          LLog->Warning("System shutdown is in progress. Enqueue the job again and do not run it now");
          PutBack(LJob);
          LJob = nullptr;
          break;
        }
        if (FJobServant && !FJobServant->IsJobStartDuringRebootAllowed(LJob->GetContentId())) {
          LLog->Warning("Job is skipped, because an agent restart or a reboot is requested");
          LLog->MessageObject("Skipped job: \"%s\"", {LJob->GetDisplayText()}, LJob.get(), 0);
          TJobPtr LNext = FJobQueue->DequeueNextJob();
          if (LJob->GetIsManual()) LSkipped.push_back(LJob);
          LJob = std::move(LNext);
          continue;
        }
        LLog->MessageObject("Try to dispatch job: \"%s\"", {LJob->GetDisplayText()}, LJob.get(), 0);
        if (!CheckStartCondition(LJob)) {
          LJob->SetNextExecution(CNoDateTime);
          ReturnToJobList(LJob);
          LJob = FJobQueue->DequeueNextJob();
          continue;
        }
        IJobProcessor<>* LProcessor = FProcessorPool->RequestProcessor(LJob);
        if (!LProcessor) {
          LLog->MessageObject("No processor available for job: \"%s\"", {LJob->GetDisplayText()}, LJob.get(), 0);
          FJobQueue->EnqueueJob(LJob);
          LJob = nullptr;
          break;
        }
        if (FJobServant && !FJobServant->IsJobStartAllowed(LJob)) {
          FJobQueue->EnqueueJob(LJob);
          LProcessor->SetJob(LJob);
          FProcessorPool->ReleaseProcessor(LProcessor, false);
          LJob = nullptr;
          break;
        }
        LJob->SetNextExecution(CNoDateTime);
        LJob->SetExecState(TJobExecState::Running);
        LProcessor->ProcessJob(LJob);
        ++LCount;
        LJob = FJobQueue->DequeueNextJob();
      }
    } catch (...) {
      try {
        if (LJob && LJob->GetExecState() != TJobExecState::Running) PutBack(LJob);
        for (const TJobPtr& LSkippedJob : LSkipped) FJobQueue->EnqueueJob(LSkippedJob);
      } catch (...) {
        // The first failure is the one worth reporting.
      }
      throw;
    }
    for (const TJobPtr& LSkippedJob : LSkipped) FJobQueue->EnqueueJob(LSkippedJob);
  }
  LLog->TraceExit("ProcessQueue", this);
  return LCount;
}

}  // namespace Orvane
