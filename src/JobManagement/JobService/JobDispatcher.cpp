#include "JobManagement/JobService/JobDispatcher.h"

#include <utility>
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
  if (!AJob->GetIsManual()) return;
  // Saved in the job list before it leaves the queue's file, so a crash in between loses nothing.
  if (FJobListProvider) FJobListProvider->AddManualJob(AJob);
  FJobQueue->RunEnded(AJob);
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

namespace {
// Hand-overs of one job that may fail in a row before the job is dropped.
constexpr int CMaxFailedHandOvers = 3;
}  // namespace

TJobDispatcher::THandOver TJobDispatcher::HandOver(const TJobPtr& AJob) {
  const TDateTime LNextExecution = AJob->GetNextExecution();
  const uint8_t LExecState = AJob->GetExecState();
  IJobProcessor<>* LProcessor = nullptr;
  try {
    LProcessor = FProcessorPool->RequestProcessor(AJob);
    if (LProcessor) {
      if (FJobServant && !FJobServant->IsJobStartAllowed(AJob)) {
        FJobQueue->EnqueueJob(AJob);
        LProcessor->SetJob(AJob);
        FProcessorPool->ReleaseProcessor(std::exchange(LProcessor, nullptr), false);
        return THandOver::Refused;
      }
      AJob->SetNextExecution(CNoDateTime);
      AJob->SetExecState(TJobExecState::Running);
      LProcessor->ProcessJob(AJob);
    }
  } catch (...) {
    // The pool undoes a failure inside the request itself. A processor handed out here has not
    // started: it goes back unannounced, and the job is as it was before.
    if (LProcessor) {
      try {
        LProcessor->SetJob(AJob);
        FProcessorPool->ReleaseProcessor(LProcessor, false);
      } catch (...) {
        LogCurrentException(MakeContext(*this, "ProcessQueue"));
      }
    }
    AJob->SetExecState(LExecState);
    AJob->SetNextExecution(LNextExecution);
    if (DropAfterFailedHandOver(AJob)) return THandOver::Dropped;
    try {
      PutBack(AJob);
    } catch (...) {
      LogCurrentException(MakeContext(*this, "ProcessQueue"));
    }
    throw;
  }
  if (!LProcessor) {
    OrvaneLogger()->MessageObject("No processor available for job: \"%s\"", {AJob->GetDisplayText()}, AJob.get(), 0);
    FJobQueue->EnqueueJob(AJob);
    return THandOver::NoProcessor;
  }
  FHandOverFailures.erase(AJob->GetIdentifier());
  return THandOver::Started;
}

bool TJobDispatcher::DropAfterFailedHandOver(const TJobPtr& AJob) {
  if (++FHandOverFailures[AJob->GetIdentifier()] < CMaxFailedHandOvers) return false;
  // The entry stays until a hand-over succeeds: a job that fails again is dropped at once.
  IOrvaneLogger* LLog = OrvaneLogger();
  LogCurrentException(MakeContext(*this, "ProcessQueue"));
  LLog->Error("Job is dropped, because it could not be handed to a processor %d times in a row: \"%s\"",
              {CMaxFailedHandOvers, AJob->GetDisplayText()});
  AJob->GetStartCondition()->SetAlreadyRunFlag(false);
  AJob->SetNextExecution(CNoDateTime);
  LLog->MessageObject("Dropped job", AJob.get());
  FOnJobDropped.Invoke(AJob);
  ReturnToJobList(AJob);
  return true;
}

int32_t TJobDispatcher::ProcessQueue() {
  IOrvaneLogger* LLog = OrvaneLogger();
  LLog->TraceEnter("ProcessQueue", this);
  int32_t LCount = 0;
  {
    TCriticalSectionLock LLock(FCriticalSection);
    std::vector<TJobPtr> LSkipped;
    // The job in hand: taken from the queue and not yet started, put back or dropped.
    TJobPtr LJob;
    // Whatever leaves the call, a manual job in hand and the skipped ones are not lost.
    try {
      LJob = FJobQueue->DequeueNextJob();
      while (LJob) {
        if (FJobServant && FJobServant->GetIsSystemShutdownInProgress()) {
          LLog->Warning("System shutdown is in progress. Enqueue the job again and do not run it now");
          PutBack(std::exchange(LJob, nullptr));
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
          ReturnToJobList(std::exchange(LJob, nullptr));
          LJob = FJobQueue->DequeueNextJob();
          continue;
        }
        // From here the hand-over decides what becomes of the job, also when it fails.
        const THandOver LHandOver = HandOver(std::exchange(LJob, nullptr));
        if (LHandOver == THandOver::NoProcessor || LHandOver == THandOver::Refused) break;
        if (LHandOver == THandOver::Started) ++LCount;
        LJob = FJobQueue->DequeueNextJob();
      }
    } catch (...) {
      try {
        if (LJob) PutBack(LJob);
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
