#include "JobManagement/JobProcessor/CustomJobProcessorPool.h"

#include <algorithm>

#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TCustomJobProcessorPool<>::TCustomJobProcessorPool(std::shared_ptr<IJobExecStateReporter> AJobExecStateReporter,
                                                   int32_t AMaxParallelProcessorCount)
    : FJobExecStateReporter(std::move(AJobExecStateReporter)), FMaxParallelProcessorCount(AMaxParallelProcessorCount) {}

TCustomJobProcessorPool<>::~TCustomJobProcessorPool() {
  std::vector<std::shared_ptr<IJobProcessor<>>> LProcessors;
  {
    TCriticalSectionLock LLock(FSynchronizer);
    FreeReleasedProcessors();
    if (FSerialProcessor) LProcessors.push_back(std::move(FSerialProcessor));
    for (auto& LProcessor : FParallelProcessors) LProcessors.push_back(std::move(LProcessor));
    FParallelProcessors.clear();
  }
  // Outside the lock: a running processor may still release itself. Each processor's destructor
  // waits for its thread to end, so no run touches this pool after this loop. Processors hold the
  // pool weakly, so this destructor never runs on one of their threads.
  LProcessors.clear();
}

bool TCustomJobProcessorPool<>::IsJobRunning(const TJob& AJob) {
  TCriticalSectionLock LLock(FSynchronizer);
  return IsJobRunningLocked(AJob);
}

bool TCustomJobProcessorPool<>::HasRunningJobs() {
  TCriticalSectionLock LLock(FSynchronizer);
  return FRunningJobsCount.load() > 0;
}

bool TCustomJobProcessorPool<>::IsJobRunningLocked(const TJob& AJob) {
  const std::string LId = AJob.GetIdentifier();
  return std::any_of(FRunningJobIds.begin(), FRunningJobIds.end(),
                     [&](const std::string& ARunning) { return SameText(ARunning, LId); });
}

void TCustomJobProcessorPool<>::AddRunningJob(const TJob& AJob) {
  FRunningJobIds.push_back(AJob.GetIdentifier());
  ++FRunningJobsCount;
  OrvaneLogger()->StringsValue("Running jobs", FRunningJobIds);
}

void TCustomJobProcessorPool<>::RemoveRunningJob(const TJob& AJob) {
  const std::string LId = AJob.GetIdentifier();
  auto LFound = std::find_if(FRunningJobIds.begin(), FRunningJobIds.end(),
                             [&](const std::string& ARunning) { return SameText(ARunning, LId); });
  if (LFound != FRunningJobIds.end()) {
    FRunningJobIds.erase(LFound);
    --FRunningJobsCount;
  }
  OrvaneLogger()->StringsValue("Running jobs", FRunningJobIds);
}

IJobProcessor<>* TCustomJobProcessorPool<>::RequestProcessor(const TJobPtr& AJob) {
  if (FIsStopping.load() || !AJob) return nullptr;
  TCriticalSectionLock LLock(FSynchronizer);
  if (IsJobRunningLocked(*AJob)) return nullptr;
  FreeReleasedProcessors();

  std::shared_ptr<IJobProcessor<>> LProcessor;
  if (!AJob->GetCanRunParallel()) {
    if (FSerialProcessor) return nullptr;
    LProcessor = CreateProcessor(AJob);
    if (!LProcessor) return nullptr;  // nothing counted as running without a processor
    FSerialProcessor = LProcessor;
  } else {
    if (GetMaxParallelProcessorCount() <= FRunningJobsCount.load()) {
      OrvaneLogger()->Message("Max count of parallel processors reached");
      return nullptr;
    }
    LProcessor = CreateProcessor(AJob);
    if (!LProcessor) return nullptr;
    FParallelProcessors.push_back(LProcessor);
  }
  AddRunningJob(*AJob);
  try {
    LProcessor->SetProcessorPool(shared_from_this());
    LProcessor->SetJobExecStateReporter(FJobExecStateReporter);
    FOnAfterRequestProcessor.Invoke(AJob);
  } catch (...) {
    // Nobody got the processor: it counts as released unstarted, and the job no longer runs.
    RemoveRunningJob(*AJob);
    FReleasedProcessors.push_back(LProcessor.get());
    NotifyRunningChanged();
    throw;
  }
  return LProcessor.get();
}

void TCustomJobProcessorPool<>::ReleaseProcessor(IJobProcessor<>* AProcessor, bool ANotifyJobFinished) {
  IOrvaneLogger* LLog = OrvaneLogger();
  LLog->TraceEnter("ReleaseProcessor");
  const TJobPtr LJob = AProcessor ? AProcessor->GetJob() : nullptr;
  if (LJob) {
    // A job-done handler that raises must not keep WaitForJobs waiting for a job that has ended.
    struct TWakeWaiters {
      TCustomJobProcessorPool& FPool;
      ~TWakeWaiters() { FPool.NotifyRunningChanged(); }
    } LWake{*this};
    TCriticalSectionLock LLock(FSynchronizer);
    RemoveRunningJob(*LJob);
    FReleasedProcessors.push_back(AProcessor);
    if (ANotifyJobFinished) {
      LLog->MessageObject("Finished job: \"%s\"", {LJob->GetDisplayText()}, LJob.get());
      FOnJobDone.Invoke(LJob);
    }
  }
  LLog->TraceExit("ReleaseProcessor");
}

void TCustomJobProcessorPool<>::NotifyRunningChanged() {
  {
    TMutexLock LWait(FWaitLock);
  }
  FRunningChanged.NotifyAll();
}

std::shared_ptr<IJobProcessor<>> TCustomJobProcessorPool<>::TakeOwned(IJobProcessor<>* AProcessor) {
  if (FSerialProcessor.get() == AProcessor) return std::move(FSerialProcessor);
  auto LFound = std::find_if(FParallelProcessors.begin(), FParallelProcessors.end(),
                             [&](const std::shared_ptr<IJobProcessor<>>& A) { return A.get() == AProcessor; });
  if (LFound == FParallelProcessors.end()) return nullptr;
  std::shared_ptr<IJobProcessor<>> LProcessor = std::move(*LFound);
  FParallelProcessors.erase(LFound);
  return LProcessor;
}

void TCustomJobProcessorPool<>::FreeReleasedProcessors() {
  IOrvaneLogger* LLog = OrvaneLogger();
  LLog->TraceEnter("FreeReleasedProcessors");
  LLog->IntegerValue("Released processors", static_cast<int64_t>(FReleasedProcessors.size()));
  while (!FReleasedProcessors.empty()) {
    IJobProcessor<>* LReleased = FReleasedProcessors.back();
    FReleasedProcessors.pop_back();
    // Its destructor waits (bounded) until its thread has passed the run's last step.
    TakeOwned(LReleased).reset();
  }
  LLog->TraceExit("FreeReleasedProcessors");
}

void TCustomJobProcessorPool<>::WaitForJobs(int32_t ATimeoutSeconds) {
  FIsWaitingForJobsToFinish.store(true);
  const TMonoTime LDeadline = Clock().DeadlineIn(ATimeoutSeconds);
  {
    TMutexLock LLock(FWaitLock);
    Clock().Wait(FRunningChanged, LLock, LDeadline, [this] { return FRunningJobsCount.load() <= 0; });
  }
  // The last release uncounts its job before it raises job-done under the pool's lock: passing
  // through that lock once lets it finish, so the caller never goes on before the job's end is told.
  TCriticalSectionLock LBarrier(FSynchronizer);
}

}  // namespace Orvane
