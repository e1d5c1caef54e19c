#pragma once

#include <memory>
#include <string>
#include <unordered_set>

#include "JobManagement/JobService/JobPriorityComparer.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/ItemSaver.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/NestedReadLock.h"

namespace Orvane {

template <class T = void>
class TJobQueue;

// The general job queue. It keeps no sorted order: PeekNextJob is one pass with the priority
// comparer over the jobs in the order they were added, so a job whose due time changes while it
// waits is ranked by its current value.
//
// Ownership: a queued manual job is the queue's own copy, made on entry; DequeueNextJob hands it to
// the caller, and destroying the queue drops it. Every other job belongs to the job list and is
// only referenced here.
//
// Threading: any thread may call any operation.
// - FSynchronizer (multi-reader, exclusive writer) guards FJobs, FRunning and FJobContentIds. Writers:
//   EnqueueJob, DequeueNextJob, RemoveJob, SyncQueue; readers: PeekNextJob, CreateSnapshot,
//   SaveQueuedManualJobs. DequeueNextJob calls the virtual PeekNextJob inside its write section,
//   so the lock lets its writer read again. A reader must never ask for the write lock: it would
//   wait for itself; so the saver and its event handlers must not call back into the queue.
//   It comes last in the service's lock order (after the dispatcher's, the pool's and the
//   provider's locks).
// - FSaveLock lets one save run at a time (the savers do not allow two at once; the read lock
//   alone would let two threads in). It is taken before the read lock of a save, and saves run
//   only after the write lock of the operation that caused them has been released.
// - The jobs returned by PeekNextJob and DequeueNextJob are used by the callers without the lock.
template <>
class TJobQueue<void> : public TOrvaneObject, public virtual IJobQueue<> {
public:
  // Either may be nullptr; then the queue saves or loads nothing.
  TJobQueue(std::shared_ptr<IItemSaver<TJob>> AManualJobSaver,
            std::shared_ptr<IListProvider<TJob>> AManualJobLoader);
  ~TJobQueue() override;
  TJobQueue(const TJobQueue&) = delete;
  TJobQueue& operator=(const TJobQueue&) = delete;

  std::string ClassName() const override { return "TJobQueue"; }

  bool EnqueueJob(const TJobPtr& ANewJob) override EXCLUDES(FSaveLock, FSynchronizer);
  TJobPtr DequeueNextJob() override EXCLUDES(FSaveLock, FSynchronizer);
  // Takes the lock for reading, also inside DequeueNextJob's write section.
  TJobPtr PeekNextJob() override EXCLUDES(FSaveLock);
  void RemoveJob(const TJobPtr& AJob) override EXCLUDES(FSaveLock, FSynchronizer);
  void SyncQueue(const IEnumerable<TJobPtr>& AExistingJobs) override EXCLUDES(FSaveLock, FSynchronizer);
  int32_t SaveQueuedManualJobs() override EXCLUDES(FSaveLock, FSynchronizer);
  void LoadQueuedManualJobs() override EXCLUDES(FSaveLock, FSynchronizer);
  TJobList CreateSnapshot() override EXCLUDES(FSaveLock, FSynchronizer);
  void RunEnded(const TJobPtr& AJob) override EXCLUDES(FSaveLock, FSynchronizer);
  bool HoldsManualJob(const TJob& AJob) override EXCLUDES(FSaveLock, FSynchronizer);

protected:
  // The manual jobs of the saved file: the running ones, then the queued ones in list order, picked
  // while the caller walks the sequence. Walk it only while holding FSynchronizer.
  IEnumerable<TJobPtr> GetManualJobs() const REQUIRES_SHARED(FSynchronizer);
  // The queued jobs of the job list (not the manual ones), as of the call.
  TJobList ScheduledJobs() const EXCLUDES(FSaveLock);

  mutable TNestedReadLock FSynchronizer;
  // In the order of addition, not of priority.
  TJobList FJobs GUARDED_BY(FSynchronizer);
  // Manual jobs dequeued whose run has not ended: saved with the queue, not queued.
  TJobList FRunning GUARDED_BY(FSynchronizer);

private:
  const std::shared_ptr<IListProvider<TJob>> FManualJobLoader;
  const std::shared_ptr<IItemSaver<TJob>> FManualJobSaver;
  const std::shared_ptr<IComparer<TJob>> FComparer;
  // Exactly the content ids of the jobs in FJobs, compared exactly.
  std::unordered_set<std::string> FJobContentIds GUARDED_BY(FSynchronizer);
  TMutex FSaveLock ACQUIRED_BEFORE(FSynchronizer);
};

// The queue of a job-action class: the same queue, built from the saver and the loader that the
// container registers for that class's queue file.
template <>
class TJobQueue<TScannerJobAction> : public TJobQueue<>, public virtual IJobQueue<TScannerJobAction> {
public:
  TJobQueue(std::shared_ptr<IManualJobSaverQueue<TScannerJobAction>> AManualJobSaver,
            std::shared_ptr<IManualJobLoaderQueue<TScannerJobAction>> AManualJobLoader);

  std::string ClassName() const override { return "TJobQueue<TScannerJobAction>"; }
};

// The job-queue builder: a TJobQueue whose manual-job saver, made by ASaverClass, and loader, a
// TFileJobListProvider, both work on the file AFileName.
std::shared_ptr<IJobQueue<>> BuildJobQueue(const std::string& AFileName, TFileJobListSaverClass ASaverClass);

}  // namespace Orvane
