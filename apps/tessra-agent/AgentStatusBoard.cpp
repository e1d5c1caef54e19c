#include "AgentStatusBoard.h"

#include <algorithm>
#include <utility>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

namespace {

std::string StateText(uint8_t AState) {
  switch (AState) {
    case TJobExecState::Running:
      return "running";
    case TJobExecState::Finished:
      return "finished";
    case TJobExecState::Queued:
      return "queued";
    default:
      return "idle";
  }
}

}  // namespace

TJobStatusRow TJobStatusRow::Of(const TJob& AJob, TDateTime ANow) {
  TJobStatusRow LRow;
  LRow.DisplayText = AJob.GetDisplayText();
  LRow.Identifier = AJob.GetIdentifier();
  LRow.State = StateText(AJob.GetExecState());
  LRow.IsManual = AJob.GetIsManual();
  // A queued or running job is due since its NextExecution; any other job shows when its start
  // conditions expect it next.
  const TDateTime LDueSince = AJob.GetNextExecution();
  const uint8_t LState = AJob.GetExecState();
  if ((LState == TJobExecState::Queued || LState == TJobExecState::Running) && LDueSince != CNoDateTime) {
    LRow.Due = LDueSince;
  } else if (const TStartConditionFacadePtr LConditions = AJob.GetStartCondition()) {
    const TDateTime LPlanned = LConditions->NextPlannedTime(ANow);
    LRow.Due = LPlanned >= 0 ? LPlanned : LDueSince;
  }
  return LRow;
}

TAgentStatusBoard::TAgentStatusBoard(std::shared_ptr<IJobStateNotifier> ANext) : FNext(std::move(ANext)) {}

void TAgentStatusBoard::JobQueueChanged(const TJobList& AJobs) {
  std::vector<TJobStatusRow> LRows;
  LRows.reserve(AJobs.size());
  const TDateTime LNow = Now();
  for (const TJobPtr& LJob : AJobs)
    if (LJob) LRows.push_back(TJobStatusRow::Of(*LJob, LNow));
  {
    TMutexLock LLock(FLock);
    FQueue = std::move(LRows);
  }
  if (FNext) FNext->JobQueueChanged(AJobs);
}

void TAgentStatusBoard::JobProcessorAssigned(const TJobPtr& AJob) {
  if (AJob) {
    TJobStatusRow LRow = TJobStatusRow::Of(*AJob, Now());
    LRow.State = "running";
    TMutexLock LLock(FLock);
    // A job that was queued is not in the queue any more once a processor has it.
    std::erase_if(FQueue, [&](const TJobStatusRow& A) { return A.Identifier == LRow.Identifier; });
    FRunning.push_back(std::move(LRow));
  }
  if (FNext) FNext->JobProcessorAssigned(AJob);
}

void TAgentStatusBoard::Ended(const TJobPtr& AJob) {
  if (!AJob) return;
  const std::string LIdentifier = AJob->GetIdentifier();
  TMutexLock LLock(FLock);
  const auto LFound = std::find_if(FRunning.begin(), FRunning.end(),
                                   [&](const TJobStatusRow& A) { return A.Identifier == LIdentifier; });
  if (LFound != FRunning.end()) FRunning.erase(LFound);
}

void TAgentStatusBoard::JobDone(const TJobPtr& AJob) {
  Ended(AJob);
  if (FNext) FNext->JobDone(AJob);
}

void TAgentStatusBoard::JobDropped(const TJobPtr& AJob) {
  Ended(AJob);
  if (FNext) FNext->JobDropped(AJob);
}

void TAgentStatusBoard::JobAborted(const TJobPtr& AJob) {
  Ended(AJob);
  if (FNext) FNext->JobAborted(AJob);
}

void TAgentStatusBoard::JobListChanged(const TJobList& AJobs) {
  if (FNext) FNext->JobListChanged(AJobs);
}

void TAgentStatusBoard::AttachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) {
  if (FNext) FNext->AttachJobListProvider(AProvider);
}

void TAgentStatusBoard::DetachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) {
  if (FNext) FNext->DetachJobListProvider(AProvider);
}

std::vector<TJobStatusRow> TAgentStatusBoard::GetQueue() {
  TMutexLock LLock(FLock);
  return FQueue;
}

std::vector<TJobStatusRow> TAgentStatusBoard::GetRunning() {
  TMutexLock LLock(FLock);
  return FRunning;
}

}  // namespace Orvane
