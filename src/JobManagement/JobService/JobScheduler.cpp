#include "JobManagement/JobService/JobScheduler.h"

#include <optional>
#include <utility>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

namespace {

// The object kind under which a job that cannot run yet is logged.
constexpr int CNotInitializedEntryKind = 3;

// A pass restricted to some condition kinds takes the jobs whose facade holds one of them; a job
// without conditions takes part only when every kind is allowed (the main loop), so the main loop
// needs no facade here.
bool IsAllowed(const TJob& AJob, TConditions AAllowedConditions) {
  if (AAllowedConditions == CAllConditions) return true;
  const TStartConditionFacadePtr LFacade = AJob.GetStartCondition();
  return LFacade && IsAllowedByConditions(*LFacade, AAllowedConditions);
}

}  // namespace

TJobScheduler::TJobScheduler(std::shared_ptr<IJobListProvider<>> AJobProvider,
                             std::shared_ptr<IJobQueue<>> AJobQueue, std::shared_ptr<IJobServant> AJobServant)
    : FJobProvider(std::move(AJobProvider)),
      FJobQueue(std::move(AJobQueue)),
      FJobServant(std::move(AJobServant)) {}

TJobScheduler::TJobScheduler(std::shared_ptr<IJobListProvider<>> AJobProvider,
                             std::shared_ptr<IJobQueue<>> AJobQueue)
    : TJobScheduler(std::move(AJobProvider), std::move(AJobQueue), nullptr) {}

TJobList TJobScheduler::FetchAllowedJobs(TConditions AAllowedConditions) {
  TJobList LJobs = FJobProvider->FetchJobList();
  std::erase_if(LJobs, [AAllowedConditions](const TJobPtr& AJob) {
    return !AJob || !IsAllowed(*AJob, AAllowedConditions);
  });
  // The queue keeps the queued jobs that are still in the list, running ones included. It walks the
  // list during the call only, so it is handed a view, not a copy of thousands of references.
  const TJobList* LView = &LJobs;
  FJobQueue->SyncQueue(IEnumerable<TJobPtr>([LView] {
    return IEnumerable<TJobPtr>::TEnumerator([LView, LIndex = std::size_t{0}]() mutable -> std::optional<TJobPtr> {
      if (LIndex >= LView->size()) return std::nullopt;
      return (*LView)[LIndex++];
    });
  }));
  return LJobs;
}

int32_t TJobScheduler::UpdateQueue(TConditions AAllowedConditions) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("UpdateQueue", this);
  TMutexLock LPass(FPassLock);
  // One moment, and one time zone, for the whole pass.
  const TDateTime LNow = Now();
  const TZoneOffsetScope LZone;
  int32_t LCount = 0;
  try {
    for (const TJobPtr& LJob : FetchAllowedJobs(AAllowedConditions)) {
      if (LJob->GetExecState() == TJobExecState::Running) continue;
      if (!LJob->GetHasInitializedAction()) {
        LLogger->MessageObject("Job is not initialized.", LJob.get(), CNotInitializedEntryKind);
        continue;
      }
      if (LJob->GetNextExecution() < 0) {
        const TStartConditionFacadePtr LFacade = LJob->GetStartCondition();
        if (LFacade) {
          // Thousands of jobs are checked in every turn: their texts are made only for a detailed log.
          if (LLogger->IsActive())
            LLogger->MessageObject("Check job start condition: \"%s\"", {LJob->GetDisplayText()}, LJob.get(), 0);
          LJob->SetNextExecution(LFacade->CalcNextExecution(LNow));
        }
      }
      const TDateTime LNextExecution = LJob->GetNextExecution();
      if (LNextExecution < 0) continue;
      // Not due before its time: the value stays, and a later pass queues the job.
      if (CompareDateTime(LNextExecution, LNow) > 0) continue;
      if (FJobServant && !FJobServant->IsJobStartDuringRebootAllowed(LJob->GetContentId())) {
        LLogger->Warning("Job is skipped, because a reboot or agent restart is requested");
        LLogger->MessageObject("Skipped job", LJob.get());
        continue;
      }
      if (EnqueueDueJob(LJob)) ++LCount;
    }
  } catch (...) {
    LogCurrentException(MakeContext(*this, "UpdateQueue"));
  }
  LLogger->IntegerValue("New enqueued jobs count", LCount);
  LLogger->TraceExit("UpdateQueue", this);
  return LCount;
}

bool TJobScheduler::EnqueueDueJob(const TJobPtr& AJob) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  // A crash between the queue's save and the job list's leaves a run in both files: the queue's
  // copy is the one that runs.
  if (AJob->GetIsManual() && FJobQueue->HoldsManualJob(*AJob)) {
    LLogger->MessageObject("Manual job already queued or running; the job list's copy goes: \"%s\"",
                           {AJob->GetDisplayText()}, AJob.get());
    FJobProvider->RemoveManualJob(AJob);
    return false;
  }
  if (!FJobQueue->EnqueueJob(AJob)) return false;
  LLogger->MessageObject("New job in queue: \"%s\"", {AJob->GetDisplayText()}, AJob.get());
  if (const TStartConditionFacadePtr LFacade = AJob->GetStartCondition())
    LLogger->MessageObject("Condition", LFacade.get());
  // The queue holds its own copy of a manual job now; the job list lets go of it.
  if (AJob->GetIsManual()) FJobProvider->RemoveManualJob(AJob);
  return true;
}

}  // namespace Orvane
