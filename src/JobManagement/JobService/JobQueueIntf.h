#pragma once

#include <cstdint>

#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

class TScannerJobAction;

// The jobs that are due to run, handed out one at a time in priority order. At most one job per
// content id is queued; manual jobs are kept as the queue's own copies and written to the queue's
// manual-job file after every addition and removal.
template <class T = void>
struct IJobQueue;

template <>
struct IJobQueue<void> {
  static constexpr const char* IID = "{5042E21B-EB36-48EC-ACC5-9A01DF8B73D1}";
  static constexpr const char* Name = "IJobQueue";
  virtual ~IJobQueue() = default;

  // False, silently, when a job with the same content id is queued.
  virtual bool EnqueueJob(const TJobPtr& ANewJob) = 0;
  // The job PeekNextJob picks, taken out of the queue; nullptr when the queue is empty. A manual
  // job now belongs to the caller.
  virtual TJobPtr DequeueNextJob() = 0;
  // The next job without taking it out; nullptr when the queue is empty.
  virtual TJobPtr PeekNextJob() = 0;
  // Takes the given job out; it is left as it is.
  virtual void RemoveJob(const TJobPtr& AJob) = 0;
  // Drops the queued non-manual jobs whose identifiers are not among AExistingJobs.
  virtual void SyncQueue(const IEnumerable<TJobPtr>& AExistingJobs) = 0;
  // 0 when the queued manual jobs are saved (or there is no saver); else the saver's failure code.
  virtual int32_t SaveQueuedManualJobs() = 0;
  // Reads the stored manual jobs and queues them.
  virtual void LoadQueuedManualJobs() = 0;
  // Copies of all queued jobs, in the order in which they were added; they belong to the caller.
  virtual TJobList CreateSnapshot() = 0;
  // A dequeued manual job stays in the saved file until its run ends, so that a crash during the
  // run brings it back instead of losing it: RunEnded lets it go. EnqueueJob of the very job (put
  // back) lets it go too.
  virtual void RunEnded(const TJobPtr& AJob) = 0;
  // Whether a manual job of AJob's run (its execution id; false without one) is queued or running.
  virtual bool HoldsManualJob(const TJob& AJob) = 0;
};

template <>
struct IJobQueue<TScannerJobAction> : virtual IJobQueue<> {
  static constexpr const char* IID = "{DDB2E001-0327-4FA4-B1EC-F136F7FB4B1B}";
  static constexpr const char* Name = "IJobQueue<TScannerJobAction>";
};

}  // namespace Orvane
