#include "JobManagement/JobService/JobScheduler.h"

#include <utility>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

namespace {

// The object kind under which a job that cannot run yet is logged.
constexpr int CNotInitializedEntryKind = 3;

// A pass restricted to some condition kinds takes the jobs whose facade holds one of them; a job
// without conditions takes part only when every kind is allowed (the main loop).
bool IsAllowed(const TJob& AJob, TConditions AAllowedConditions) {
  const TStartConditionFacadePtr LFacade = AJob.GetStartCondition();
  return LFacade ? IsAllowedByConditions(*LFacade, AAllowedConditions) : AAllowedConditions == CAllConditions;
}

// A job can run once it has an action that names what to run: an agent-task action needs its
// task id.
bool IsInitialized(const TJob& AJob) {
  const std::shared_ptr<TJobAction> LAction = AJob.GetJobAction();
  if (!LAction) return false;
  const auto* LScannerAction = dynamic_cast<const TScannerJobAction*>(LAction.get());
  return !LScannerAction || !LScannerAction->AgentTaskId.empty();
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

IEnumerable<TJobPtr> TJobScheduler::GetAffectedJobs(TConditions AAllowedConditions) {
  const IEnumerable<TJobPtr> LAllowed = IEnumerable<TJobPtr>::FromVector(FJobProvider->FetchJobList())
                                            .Where([AAllowedConditions](const TJobPtr& AJob) {
                                              return AJob && IsAllowed(*AJob, AAllowedConditions);
                                            });
  // The queue keeps the queued jobs that are still in the list, running ones included.
  FJobQueue->SyncQueue(LAllowed);
  return LAllowed.Where([](const TJobPtr& AJob) {
    if (AJob->GetExecState() == TJobExecState::Running) return false;
    if (IsInitialized(*AJob)) return true;
    OrvaneLogger()->MessageObject("Job is not initialized.", AJob.get(), CNotInitializedEntryKind);
    return false;
  });
}

int32_t TJobScheduler::UpdateQueue(TConditions AAllowedConditions) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("UpdateQueue", this);
  TMutexLock LPass(FPassLock);
  // One moment for the whole pass.
  const TDateTime LNow = Now();
  int32_t LCount = 0;
  try {
    for (const TJobPtr& LJob : GetAffectedJobs(AAllowedConditions)) {
      const TStartConditionFacadePtr LFacade = LJob->GetStartCondition();
      if (LFacade && LJob->GetNextExecution() < 0) {
        LLogger->MessageObject("Check job start condition: \"%s\"", {LJob->GetDisplayText()}, LJob.get(), 0);
        LJob->SetNextExecution(LFacade->CalcNextExecution(LNow));
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
  if (!FJobQueue->EnqueueJob(AJob)) return false;
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->MessageObject("New job in queue: \"%s\"", {AJob->GetDisplayText()}, AJob.get());
  if (const TStartConditionFacadePtr LFacade = AJob->GetStartCondition())
    LLogger->MessageObject("Condition", LFacade.get());
  // The queue holds its own copy of a manual job now; the job list lets go of it.
  if (AJob->GetIsManual()) FJobProvider->RemoveManualJob(AJob);
  return true;
}

}  // namespace Orvane
