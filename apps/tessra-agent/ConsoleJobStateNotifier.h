#pragma once

#include <string>
#include <string_view>

#include "OrvaneCore/Interfaces/JobStateNotifier.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// Prints what happens to jobs, one line per event, on standard output: the local time, the event,
// the job's display text and its identifier, and for a finished job the result of its run
// (succeeded, failed, cut short, no result). The queue snapshot of every turn would repeat the
// same jobs, so a job's queuing is printed only when it was not in the previous snapshot.
class TConsoleJobStateNotifier : public IJobStateNotifier {
public:
  TConsoleJobStateNotifier() = default;

  void JobQueueChanged(const TJobList& AJobs) override;
  void JobProcessorAssigned(const TJobPtr& AJob) override;
  void JobDone(const TJobPtr& AJob) override;
  void JobDropped(const TJobPtr& AJob) override;
  void JobAborted(const TJobPtr& AJob) override;
  void JobListChanged(const TJobList& AJobs) override;
  void AttachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) override;
  void DetachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) override;

  // The line as printed, without the line end; AOutcome, when given, follows the identifier.
  static std::string FormatLine(const std::string& AEvent, const TJob& AJob, std::string_view AOutcome = {});

private:
  void Print(const std::string& AEvent, const TJobPtr& AJob, std::string_view AOutcome = {});

  TMutex FLock;
  TJobList FLastQueue GUARDED_BY(FLock);
};

}  // namespace Orvane
