#pragma once

#include <memory>

#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// The host's observer of job states. Notifications only; called on the thread that causes them.
struct IJobStateNotifier {
  static constexpr const char* IID = "{00AF9727-1275-4971-A2FE-6DCF703BE6B1}";
  static constexpr const char* Name = "IJobStateNotifier";
  virtual ~IJobStateNotifier() = default;

  // A snapshot of the queue, taken for this call.
  virtual void JobQueueChanged(const TJobList& AJobs) = 0;
  virtual void JobProcessorAssigned(const TJobPtr& AJob) = 0;
  virtual void JobDone(const TJobPtr& AJob) = 0;
  virtual void JobDropped(const TJobPtr& AJob) = 0;
  virtual void JobAborted(const TJobPtr& AJob) = 0;
  // Not called by the job service.
  virtual void JobListChanged(const TJobList& AJobs) = 0;
  virtual void AttachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) = 0;
  virtual void DetachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) = 0;
};

}  // namespace Orvane
