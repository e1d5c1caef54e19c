#pragma once

#include <string>

#include "OrvaneCore/Interfaces/JobStateNotifier.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// Prints what happens to jobs, one line per event, on standard output: the local time, the event,
// the job's display text and its identifier. The queue snapshot of every turn would repeat the
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

  // The line as printed, without the line end.
  static std::string FormatLine(const std::string& AEvent, const TJob& AJob);

private:
  void Print(const std::string& AEvent, const TJobPtr& AJob);

  TMutex FLock;
  TJobList FLastQueue GUARDED_BY(FLock);
};

}  // namespace Orvane
