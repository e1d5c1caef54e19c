#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneClientShared/StartConditionStorageManager.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/ItemSaver.Intf.h"
#include "OrvaneCore/Interfaces/JobListSnapshot.Intf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/NamedMutex.h"

namespace Orvane {

template <class T = void>
class TCustomJobListProvider;

// The job list of one job service: automatic jobs (brought in by LoadJobs, normally from the
// server), manual jobs (asked for once, kept in the manual-job file) and the cleanup list of
// automatic jobs that left the source while queued or running. FetchJobList brings the automatic
// jobs up to date when a reload is pending and hands out the manual jobs, then the automatic jobs
// by Order.
//
// This class has no source of automatic jobs: LoadJobs fails. Descendants override it.
//
// Ownership: the provider holds its jobs by shared reference; a fetched list refers to the very
// job objects, which the scheduler, the queue and the processors go on using after the provider has
// dropped them. A job on the cleanup list is always the same object as its entry in FAutoJobs, is
// listed there at most once, and its entry goes whenever the job leaves FAutoJobs.
//
// Updates never write into a queued or running job: a newer definition of such a job waits as a
// pending update and is assigned at the first fetch that finds the job idle. An update keeps the
// job's NextExecution and ExecState, and TJob::Assign keeps its condition storages.
//
// Threading:
// - FSynchronizer is a recursive mutex shared by name inside the process: every provider created
//   with the same job service name ("TScannerJobAction" for agent tasks) locks the same one. It
//   guards the three lists and the pending updates, and serialises every call into the storage
//   manager, the saver and the loader. It comes after the dispatcher's and the pool's locks and
//   before the queue's (lock order D, P, N, Q). Re-entrant: LoadJobs of a descendant runs under it
//   and may call AddManualJob. The manual-job events are raised under it, so their handlers must
//   not wait for another thread that needs the provider, nor call the pool or the dispatcher.
// - Condition storages are saved only under FSynchronizer, as are all other storage-manager calls
//   and every Assign into a job (which may change a job's storage list); so no two saves overlap,
//   and no save walks a storage list that is being changed. The scheduler's and the processors'
//   writes to storages go to atomic values of storages that InitJob made before the job was handed
//   out; a save running beside them writes each value either before or after the change, and the
//   job service saves again after every finished job.
// - The reload flag is an atomic and the run information has a small lock of its own; neither needs
//   the provider's lock.
// - No clock wait happens under FSynchronizer.
template <>
class TCustomJobListProvider<void> : public TOrvaneObject,
                                     public virtual IJobListProvider<>,
                                     public virtual IJobListSnapshotSource {
public:
  TCustomJobListProvider(std::shared_ptr<IServerRequestSender> ARequestSender,
                         TSystemRunInfoPtr ASystemRunInfo,
                         std::shared_ptr<IStartConditionStorageManager<>> AConditionStorageManager,
                         std::shared_ptr<IItemSaver<TJob>> AManualJobSaver,
                         std::shared_ptr<IListProvider<TJob>> AManualJobLoader,
                         const std::string& AJobServiceName);
  TCustomJobListProvider(std::shared_ptr<IServerRequestSender> ARequestSender,
                         std::shared_ptr<IStartConditionStorageManager<>> AConditionStorageManager,
                         std::shared_ptr<IItemSaver<TJob>> AManualJobSaver,
                         std::shared_ptr<IListProvider<TJob>> AManualJobLoader,
                         const std::string& AJobServiceName);
  // Saves the condition storages (a failure is logged); the jobs go with the lists.
  ~TCustomJobListProvider() override;
  TCustomJobListProvider(const TCustomJobListProvider&) = delete;
  TCustomJobListProvider& operator=(const TCustomJobListProvider&) = delete;

  std::string ClassName() const override { return "TCustomJobListProvider"; }

  // IJobListProvider
  TNotifyEvent& GetOnPullRequestReceived() override { return FOnPullRequestReceived; }
  TOnNewManualJobEvent& GetOnManualJobsChanged() override { return FOnManualJobsChanged; }
  bool GetLoadListFromServerOnNextFetch() override { return FLoadListFromServerOnNextFetch.load(); }
  void SetLoadListFromServerOnNextFetch(bool AValue) override {
    FLoadListFromServerOnNextFetch.store(AValue);
  }
  TSystemRunInfoPtr GetSystemRunInfo() override EXCLUDES(FRunInfoLock);
  // A new value goes to every job the provider holds.
  void SetSystemRunInfo(const TSystemRunInfoPtr& AValue) override EXCLUDES(FRunInfoLock);
  // The provider takes the job over as a manual job and rewrites the manual-job file, the stored
  // jobs included; only when that save succeeded does it keep the job and raise
  // OnManualJobsChanged (both under its lock). A failed save drops the job again and returns the
  // saver's result.
  int32_t AddManualJob(const TJobPtr& AJob) override;
  // Raises OnBeforeManualJobRemoved, removes the job (the same object, else the first equal one;
  // nothing when there is none) and saves the condition storages and the manual jobs.
  void RemoveManualJob(const TJobPtr& AJob) override;
  // Manual jobs first, then the automatic jobs by Order, without the jobs on the cleanup list. A
  // failure is logged; the fetch then hands out what the provider holds.
  TJobList FetchJobList() override;
  // Writes the manual jobs; the stored ones are taken over first if no load has done so yet, so a
  // save never loses them. The saver's result.
  int32_t SaveQueuedManualJobs() override;
  // Moves the loader's jobs to the end of the manual jobs.
  void LoadQueuedManualJobs() override;
  void SaveConditionStorages() override;

  TOnNewManualJobEvent& GetOnBeforeManualJobRemoved() { return FOnBeforeManualJobRemoved; }

  // Clones of the three lists, taken under the lock: no reload, no clean-up, no events.
  TJobListSnapshot CreateSnapshot() override;

  // The first job of AList whose content id equals AContentId exactly.
  static bool TryFindJobByContentId(const std::string& AContentId, const TJobList& AList, TJobPtr& AJob);
  // Whether some job of AList is not manual.
  static bool IsAutoJobInList(const TJobList& AList);

protected:
  // Whether a loaded job may enter the automatic list or update its counterpart there: its start
  // condition facade is enabled (so a job without conditions never enters).
  virtual bool AcceptsAutoJob(const TJobPtr& AJob);
  // The IsRegularJob value that AddManualJob gives a job of this identifier.
  virtual bool IsRegularJob(const std::string& AIdentifier);
  virtual bool IsUpdateRequired();
  virtual void LoadConditionStorages();
  // Fills AJobs with the current automatic (and possibly manual) jobs of the source; false when
  // the source could not be read, so that the next fetch tries again. Runs under the lock.
  virtual bool LoadJobs(TJobList& AJobs, int32_t& AManualJobCount) REQUIRES(FSynchronizer);
  // Gives the job the run information and prepares its condition storages.
  virtual void InitJob(const TJobPtr& AJob) EXCLUDES(FRunInfoLock);

  const std::shared_ptr<IServerRequestSender> FRequestSender;
  const std::shared_ptr<IStartConditionStorageManager<>> FStartConditionStorageManager;
  const std::shared_ptr<IItemSaver<TJob>> FManualJobListSaver;
  const std::shared_ptr<IListProvider<TJob>> FManualJobListLoader;

  TNamedMutex FSynchronizer;
  TJobList FAutoJobs GUARDED_BY(FSynchronizer);
  TJobList FManualJobs GUARDED_BY(FSynchronizer);
  // Jobs of FAutoJobs (the same objects), each at most once.
  TJobList FCleanupList GUARDED_BY(FSynchronizer);

private:
  void UpdateJobList() REQUIRES(FSynchronizer);
  // Brings FAutoJobs in line with the loaded jobs, matched by upper-cased identifier.
  void UpdateAutoJobs(const TJobList& ASource) REQUIRES(FSynchronizer);
  void RemoveFromCleanupList(const TJobList& ASource) REQUIRES(FSynchronizer);
  // Assigns the pending updates of jobs that are idle now.
  void ApplyPendingUpdates() REQUIRES(FSynchronizer);
  void CleanJobList() REQUIRES(FSynchronizer);
  // Takes the automatic job at AIndex out for good: off the storage manager, the cleanup list and
  // the pending updates.
  void DropAutoJob(std::size_t AIndex) REQUIRES(FSynchronizer);
  void AddToCleanupList(const TJobPtr& AJob) REQUIRES(FSynchronizer);
  void RemoveFromCleanupListByIdentity(const TJob* AJob) REQUIRES(FSynchronizer);
  // Takes the very object out of the manual jobs again.
  void ForgetManualJob(const TJobPtr& AJob) REQUIRES(FSynchronizer);
  TJobList AssembleJobList() REQUIRES(FSynchronizer);

  std::atomic<bool> FLoadListFromServerOnNextFetch{true};
  TJobEvent FOnManualJobsChanged{"OnManualJobsChanged"};
  TJobEvent FOnBeforeManualJobRemoved{"OnBeforeManualJobRemoved"};
  TNotifyEvent FOnPullRequestReceived{"OnPullRequestReceived"};

  // Whether a load has taken the loader's stored jobs over (the file loaders read once).
  bool FStoredManualJobsTaken GUARDED_BY(FSynchronizer) = false;
  // Newer definitions of queued or running automatic jobs, by job key.
  std::unordered_map<std::string, TJobPtr> FPendingUpdates GUARDED_BY(FSynchronizer);

  TMutex FRunInfoLock;
  TSystemRunInfoPtr FSystemRunInfo GUARDED_BY(FRunInfoLock);
};

class TScannerJobAction;

// The job list provider of agent tasks: its collaborators come in their typed forms, and its lock
// is the one named "TScannerJobAction" that every agent-task provider shares.
template <>
class TCustomJobListProvider<TScannerJobAction> : public TCustomJobListProvider<>,
                                                  public virtual IJobListProvider<TScannerJobAction> {
public:
  TCustomJobListProvider(
      std::shared_ptr<IServerRequestSender> ARequestSender,
      std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>> AConditionStorageManager,
      std::shared_ptr<IManualJobSaverJobList<TScannerJobAction>> AManualJobSaver,
      std::shared_ptr<IManualJobLoaderJobList<TScannerJobAction>> AManualJobLoader);

  std::string ClassName() const override { return "TCustomJobListProvider<TScannerJobAction>"; }
};

}  // namespace Orvane
