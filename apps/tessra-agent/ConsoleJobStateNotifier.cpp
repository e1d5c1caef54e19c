#include "ConsoleJobStateNotifier.h"

#include <fmt/format.h>

#include <algorithm>

#include "AgentSetup.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

std::string TConsoleJobStateNotifier::FormatLine(const std::string& AEvent, const TJob& AJob,
                                                 std::string_view AOutcome) {
  const TDateTimeParts LNow = DecodeDateTime(Now());
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}  {:<22} {} {}{}{}", LNow.Year, LNow.Month, LNow.Day,
                     LNow.Hour, LNow.Minute, LNow.Second, AEvent, AJob.GetDisplayText(), AJob.GetIdentifier(),
                     AOutcome.empty() ? "" : "  ", AOutcome);
}

void TConsoleJobStateNotifier::Print(const std::string& AEvent, const TJobPtr& AJob, std::string_view AOutcome) {
  if (!AJob) return;
  Say(FormatLine(AEvent, *AJob, AOutcome));
}

void TConsoleJobStateNotifier::JobQueueChanged(const TJobList& AJobs) {
  TJobList LNew;
  {
    TMutexLock LLock(FLock);
    for (const TJobPtr& LJob : AJobs)
      if (std::find(FLastQueue.begin(), FLastQueue.end(), LJob) == FLastQueue.end()) LNew.push_back(LJob);
    FLastQueue = AJobs;
  }
  for (const TJobPtr& LJob : LNew) Print("queued", LJob);
}

void TConsoleJobStateNotifier::JobProcessorAssigned(const TJobPtr& AJob) {
  Print("handed to a processor", AJob);
}

void TConsoleJobStateNotifier::JobDone(const TJobPtr& AJob) {
  // The processor set the result before it announced the end.
  if (AJob) Print("done", AJob, JobResultText(AJob->GetLastResult()));
}

void TConsoleJobStateNotifier::JobDropped(const TJobPtr& AJob) {
  Print("dropped", AJob);
}

void TConsoleJobStateNotifier::JobAborted(const TJobPtr& AJob) {
  Print("aborted", AJob);
}

void TConsoleJobStateNotifier::JobListChanged(const TJobList&) {}

void TConsoleJobStateNotifier::AttachJobListProvider(const std::shared_ptr<IJobListProvider<>>&) {}

void TConsoleJobStateNotifier::DetachJobListProvider(const std::shared_ptr<IJobListProvider<>>&) {}

}  // namespace Orvane
