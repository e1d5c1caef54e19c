#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane::Testing {

// A manual-job saver that records, for every SaveItems, the identifiers of the jobs it was handed,
// as it walked them, and answers with Result (a failed save is recorded too). It also counts saves
// that overlapped another save of the same saver, which the real savers do not allow. Thread-safe.
// It serves as any queue's saver (IItemSaver<TJob>).
class TRecordingJobSaver : public virtual IManualJobSaverQueue<TScannerJobAction> {
public:
  int32_t SaveItem(const TJobPtr& AItem) override {
    return SaveItems(IEnumerable<TJobPtr>::FromVector({AItem}));
  }
  int32_t SaveItems(const IEnumerable<TJobPtr>& AItems) override EXCLUDES(FLock) {
    if (FSaving.fetch_add(1) != 0) FOverlappingSaves.fetch_add(1);
    std::vector<std::string> LSaved;
    for (const TJobPtr& LJob : AItems) {
      LSaved.push_back(LJob->GetIdentifier());
      if (!LJob->GetIsManual()) FAllManual = false;
    }
    TMutexLock LLock(FLock);
    FSaves.push_back(std::move(LSaved));
    FSaving.fetch_sub(1);
    return Result.load();
  }
  TNotifyEvent& GetAfterSave() override { return FAfterSave; }
  TAfterSaveItemEvent& GetAfterSaveItem() override { return FAfterSaveItem; }
  TClassName GetItemClass() override { return "TJob"; }

  // Each save: the identifiers of the saved jobs, in the order walked.
  std::vector<std::vector<std::string>> Saves() const EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FSaves;
  }
  int SaveCount() const { return static_cast<int>(Saves().size()); }
  std::vector<std::string> LastSave() const EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FSaves.empty() ? std::vector<std::string>() : FSaves.back();
  }
  // Whether every saved job so far was a manual job.
  bool SavedManualJobsOnly() const { return FAllManual.load(); }
  int OverlappingSaves() const { return FOverlappingSaves.load(); }
  std::atomic<int32_t> Result{0};
  void Clear() EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FSaves.clear();
  }

private:
  mutable TMutex FLock;
  std::vector<std::vector<std::string>> FSaves GUARDED_BY(FLock);
  std::atomic<bool> FAllManual{true};
  std::atomic<int> FSaving{0};
  std::atomic<int> FOverlappingSaves{0};
  TNotifyEvent FAfterSave{"AfterSave"};
  TAfterSaveItemEvent FAfterSaveItem{"AfterSaveItem"};
};

// A manual-job loader whose stored jobs the test puts into Items; it counts the loads. The jobs
// stay the loader's. Not thread-safe: tests load from one thread.
class TRecordingJobLoader : public virtual IManualJobLoaderQueue<TScannerJobAction> {
public:
  TClassName GetItemClass() override { return "TJob"; }
  TJobList& GetItemList() override { return Items; }
  TNotifyEvent& GetOnBeforeLoad() override { return FOnBeforeLoad; }
  TAfterLoadEvent& GetOnAfterLoad() override { return FOnAfterLoad; }
  int32_t LoadData() override {
    ++LoadCount;
    return 0;
  }

  TJobList Items;
  int LoadCount = 0;

private:
  TNotifyEvent FOnBeforeLoad{"OnBeforeLoad"};
  TAfterLoadEvent FOnAfterLoad{"OnAfterLoad"};
};

}  // namespace Orvane::Testing
