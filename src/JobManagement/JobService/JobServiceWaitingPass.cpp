#include "JobManagement/JobService/JobServiceWaitingPass.h"

#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {
// The step in which a waiting pass calls its idle procedure.
constexpr double CIdleStep = 1.0;
}  // namespace

TJobServiceWaitingPass::TJobServiceWaitingPass(std::shared_ptr<IJobDispatcher> ADispatcher,
                                               std::shared_ptr<IJobScheduler> AScheduler,
                                               std::shared_ptr<IJobListProvider<>> AJobListProvider,
                                               std::shared_ptr<IJobProcessorPool<>> AJobProcessorPool,
                                               std::shared_ptr<IJobServant> AJobServant,
                                               std::shared_ptr<IJobQueue<>> AJobQueue,
                                               std::function<void()> AReportQueue)
    : FDispatcher(std::move(ADispatcher)),
      FScheduler(std::move(AScheduler)),
      FJobListProvider(std::move(AJobListProvider)),
      FJobProcessorPool(std::move(AJobProcessorPool)),
      FJobServant(std::move(AJobServant)),
      FJobQueue(std::move(AJobQueue)),
      FReportQueue(std::move(AReportQueue)) {}

// Work items use the members below the task processor: it goes first.
TJobServiceWaitingPass::~TJobServiceWaitingPass() {
  FreeTaskProcessor();
}

void TJobServiceWaitingPass::EnsureTaskProcessor() {
  TMutexLock LLock(FTaskLock);
  if (!FTaskProcessor) FTaskProcessor = std::make_unique<TTaskProcessor>("TJobService.TaskProcessor");
}

void TJobServiceWaitingPass::FreeTaskProcessor() {
  std::unique_ptr<TTaskProcessor> LTaskProcessor;
  {
    TMutexLock LLock(FTaskLock);
    LTaskProcessor = std::move(FTaskProcessor);
  }
}

void TJobServiceWaitingPass::NotifyCountChanged() {
  { TMutexLock LLock(FCountLock); }
  FCountChanged.NotifyAll();
}

void TJobServiceWaitingPass::WaitForCount(double ASeconds) {
  const TMonoTime LDeadline = Clock().DeadlineIn(ASeconds);
  TMutexLock LLock(FCountLock);
  Clock().Wait(FCountChanged, LLock, LDeadline, [this] { return FRunningJobCount.load() <= 0; });
}

bool TJobServiceWaitingPass::JobDone() {
  // Every finished job counts, whether or not a pass runs or queued it; a new pass sets the counter.
  --FRunningJobCount;
  if (!FIsWaitingForJobs.load()) return false;
  {
    TMutexLock LLock(FTaskLock);
    // No work item is ever posted to a task processor that has gone.
    if (FTaskProcessor) FTaskProcessor->Post([this] { RunNextJobInQueue(); });
  }
  NotifyCountChanged();
  return true;
}

void TJobServiceWaitingPass::RunNextJobInQueue() {
  try {
    if (FDispatcher) FDispatcher->ProcessQueue();
  } catch (...) {
    LogCurrentException("while executing TJobService.RunNextJobInQueue");
    OrvaneLogger()->Error("Aborting all remaining jobs");
    FRunningJobCount.store(0);
    NotifyCountChanged();
  }
}

bool TJobServiceWaitingPass::NothingPending() {
  TMutexLock LLock(FTaskLock);
  return !FTaskProcessor || FTaskProcessor->PendingCount() == 0;
}

bool TJobServiceWaitingPass::Stalled() {
  // Nothing is left to dispatch and nothing runs: no job of this pass can finish any more. The
  // dispatch work is read before and after the pool, whose lock shows a release whole (a job done
  // posts its dispatch under that lock), so a job that ends between the reads is not missed.
  return NothingPending() && !FJobProcessorPool->HasRunningJobs() && NothingPending();
}

void TJobServiceWaitingPass::Run(TOrvaneObject* ASender,
                                 const IJobService::TJobCountNotification& AJobCountNotification,
                                 const IJobService::TIdleProc& AIdleProc, bool AIgnoreTimings,
                                 TConditions AAllowedStartConditions) {
  TMutexLock LPass(FPassLock);
  IOrvaneLogger* LLog = OrvaneLogger();
  LLog->TraceEnter("RunAndWaitForJobs", ASender);
  FIsWaitingForJobs.store(true);
  FIgnoreTimings.store(AIgnoreTimings);
  EnsureTaskProcessor();
  struct TPassEnd {
    TJobServiceWaitingPass& FPass;
    ~TPassEnd() {
      FPass.FreeTaskProcessor();
      FPass.FIsWaitingForJobs.store(false);
    }
  } LPassEnd{*this};

  if (!AIgnoreTimings) {
    FRunningJobCount.store(FScheduler ? FScheduler->UpdateQueue(AAllowedStartConditions) : 0);
  } else {
    const TJobList LJobs = FJobListProvider->FetchJobList();
    for (auto LJob = LJobs.rbegin(); LJob != LJobs.rend(); ++LJob) FJobQueue->EnqueueJob(*LJob);
    FRunningJobCount.store(static_cast<int32_t>(LJobs.size()));
  }
  if (AJobCountNotification) AJobCountNotification(FRunningJobCount.load());
  LLog->IntegerValue("Running jobs", FRunningJobCount.load());
  FReportQueue();
  if (FDispatcher) FDispatcher->ProcessQueue();

  const TMonoTime LLimit = Clock().DeadlineIn(FLimitSeconds.load());
  while (FRunningJobCount.load() > 0 && !(FJobServant && FJobServant->IsRebootRequested())) {
    WaitForCount(CIdleStep);
    if (AIdleProc) AIdleProc(ASender);
    if (FRunningJobCount.load() <= 0) break;
    if (Stalled()) {
      LLog->Warning("Waiting pass ends: %d of its jobs will not run now", {FRunningJobCount.load()});
      break;
    }
    if (Clock().Monotonic() >= LLimit) {
      LLog->Warning("Waiting pass ends after %d seconds with %d jobs unfinished",
                    {FLimitSeconds.load(), FRunningJobCount.load()});
      break;
    }
  }
  LLog->TraceExit("RunAndWaitForJobs", ASender);
}

}  // namespace Orvane
