#pragma once

#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Interfaces/JobStateNotifier.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// One job as the agent shows it to an administrator.
struct TJobStatusRow {
  std::string DisplayText;
  std::string Identifier;
  TDateTime Due = CNoDateTime;  // CNoDateTime when nothing is planned
  std::string State;            // "idle", "queued", "running", "finished"
  bool IsManual = false;

  // The row of a job as it is now. The due time is the job's next planned start; for a queued or
  // running job, the moment since which it is due.
  static TJobStatusRow Of(const TJob& AJob, TDateTime ANow);
};

// Remembers what the job service last told about its queue and its running jobs, so that a status
// request can be answered without touching the service, and passes every notification on to the
// next notifier (the console). The rows are taken on the notifying thread, when the service hands
// the jobs over; the board never holds a job.
class TAgentStatusBoard : public IJobStateNotifier {
public:
  explicit TAgentStatusBoard(std::shared_ptr<IJobStateNotifier> ANext);

  void JobQueueChanged(const TJobList& AJobs) override EXCLUDES(FLock);
  void JobProcessorAssigned(const TJobPtr& AJob) override EXCLUDES(FLock);
  void JobDone(const TJobPtr& AJob) override EXCLUDES(FLock);
  void JobDropped(const TJobPtr& AJob) override EXCLUDES(FLock);
  void JobAborted(const TJobPtr& AJob) override EXCLUDES(FLock);
  void JobListChanged(const TJobList& AJobs) override;
  void AttachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) override;
  void DetachJobListProvider(const std::shared_ptr<IJobListProvider<>>& AProvider) override;

  // The queue as the last snapshot showed it, in queue order.
  std::vector<TJobStatusRow> GetQueue() EXCLUDES(FLock);
  // The jobs handed to a processor and not yet ended, in the order they started.
  std::vector<TJobStatusRow> GetRunning() EXCLUDES(FLock);

private:
  void Ended(const TJobPtr& AJob) EXCLUDES(FLock);

  const std::shared_ptr<IJobStateNotifier> FNext;
  // A leaf lock: notifications arrive under the pool's lock, and nothing is called while it is held.
  TMutex FLock;
  std::vector<TJobStatusRow> FQueue GUARDED_BY(FLock);
  std::vector<TJobStatusRow> FRunning GUARDED_BY(FLock);
};

}  // namespace Orvane
