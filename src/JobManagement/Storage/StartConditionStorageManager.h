#pragma once

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "OrvaneClientShared/StartConditionStorageManager.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Conditions/StartConditionStorage.h"

namespace Orvane {

// Storage lists by job key. Keys compare exactly (case-sensitive); entries enumerate in the order
// they were added, so that the same content always makes the same file. Lookup, addition and
// removal cost constant time, also with thousands of jobs.
class TConditionStoresDict {
public:
  using TEntry = std::pair<const std::string, TStorageListPtr>;
  using TEntries = std::list<TEntry>;

  bool ContainsKey(const std::string& AKey) const { return FIndex.count(AKey) != 0; }
  // The list under AKey; null when the key is absent.
  TStorageListPtr Find(const std::string& AKey) const;
  // Appends AKey; EListError when it is present already.
  void Add(const std::string& AKey, TStorageListPtr AList);
  // Replaces the list of a present key in its place, or appends a new key.
  void AddOrSetValue(const std::string& AKey, TStorageListPtr AList);
  // Nothing happens when AKey is absent.
  void Remove(const std::string& AKey);
  void Clear();

  std::size_t Count() const { return FEntries.size(); }
  TEntries::const_iterator begin() const { return FEntries.begin(); }
  TEntries::const_iterator end() const { return FEntries.end(); }

private:
  TEntries FEntries;
  std::unordered_map<std::string, TEntries::iterator> FIndex;
};

// Keeps the start-condition state of jobs across agent restarts and across the times in which a
// job is absent from its job list.
//
// A registered (active) job's entry is the job's live storage list, the very object its start
// conditions use; the manager reads it when it saves and writes into its storages only when it
// registers the job or merges stored state. A job that leaves (unregister) leaves a copy of its
// storages behind (inactive), which goes back into the job's live storages when a job of the same
// key registers again. Descendants read and write the state (InternalLoadStorages,
// InternalSaveStorages).
//
// The job key is the job's identifier, compared exactly.
//
// Threading: the manager has no lock of its own. Its callers serialise every operation: in the
// module that is the job list provider's named mutex (FSynchronizer, named after the job-action
// class, "TScannerJobAction"), which every provider sharing this process-wide manager takes, and
// under which the provider also makes every change to a job's storage list (Assign into an idle
// job). So a save never walks a list that is being changed. The scheduler and the processors write
// storage values without that lock, but the values are atomics: a save running beside them writes
// each value from before or after the change, and the job service saves again within a second of
// every finished job.
class TStartConditionStorageManager : public TOrvaneObject, public virtual IStartConditionStorageManager<> {
public:
  TStartConditionStorageManager() = default;
  TStartConditionStorageManager(const TStartConditionStorageManager&) = delete;
  TStartConditionStorageManager& operator=(const TStartConditionStorageManager&) = delete;

  std::string ClassName() const override { return "TStartConditionStorageManager"; }

  // Merges the stored state into memory, once per manager: into the live storages of jobs that are
  // registered already, and as inactive state otherwise. The manager counts as loaded afterwards,
  // also when reading failed (the failure then reaches the caller).
  void LoadConditionStorages() override;
  // Applies the job's inactive state (if any) to its live storages and tracks the live list. A
  // second job of a key that is registered already does not replace the first.
  void RegisterJob(const TJobPtr& AJob) override;
  // Writes the active and the inactive state. Before the first load nothing is written (a manager
  // that has not read the file never overwrites it) and the result is true; false when the
  // document could not be built (logged).
  bool SaveConditionStorages() override;
  // Stops tracking the job's live list and keeps a copy of its storages as inactive state, unless
  // inactive state of that key exists already.
  void UnRegisterJob(const TJobPtr& AJob) override;

  bool GetStoresLoaded() const { return FStoresLoaded; }

  // Applies each storage of ASource to the first storage of ATarget whose name equals its name
  // without regard to case (a nameless source storage to the first target storage): the target
  // takes the source's values, keeps its own name (by which its condition finds it) and runs
  // AfterAssign; "Store of job after update" is logged with it. Unmatched source storages are
  // dropped; unmatched target storages keep their state.
  static void ApplyStoredStorages(const TStorageList& ASource, TStorageList& ATarget);

protected:
  // Fills ADict (key to storages) from the store.
  virtual void InternalLoadStorages(TConditionStoresDict& ADict) = 0;
  // Writes both dictionaries to the store, the active first.
  virtual void InternalSaveStorages(const TConditionStoresDict& AActive,
                                    const TConditionStoresDict& AInactive) = 0;

private:
  void MergeLoadedStorages(const TConditionStoresDict& ALoaded);

  // Serialised by the callers (see above).
  bool FStoresLoaded = false;
  TConditionStoresDict FActiveStoresDict;
  TConditionStoresDict FInactiveStoresDict;
};

}  // namespace Orvane
