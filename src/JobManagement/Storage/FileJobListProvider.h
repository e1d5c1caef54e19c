#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/ItemSaver.Intf.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"
#include "OrvaneCore/Platform/CriticalSection.h"

namespace Orvane {

template <class T>
class TCustomListProvider;

// A loader of jobs. LoadData raises the before-load event, loads (InternalLoadData, the
// descendant's), then raises the after-load event with whether the load returned 0.
//
// The loaded jobs stay in the loader's own list, which GetItemList hands out (no copy); an owner
// may take them out of it.
//
// Threading: one LoadData at a time; FLoadLock is held for the whole load, events included. The
// list is read through GetItemList once LoadData has returned, by the thread that loaded or after
// it, as the owners do.
template <>
class TCustomListProvider<TJob> : public TOrvaneObject, public virtual IListProvider<TJob> {
public:
  std::string ClassName() const override { return "TCustomListProvider<TJob>"; }

  TClassName GetItemClass() override { return "TJob"; }
  TJobList& GetItemList() override { return FItemList; }
  TNotifyEvent& GetOnBeforeLoad() override { return FOnBeforeLoad; }
  TAfterLoadEvent& GetOnAfterLoad() override { return FOnAfterLoad; }
  int32_t LoadData() override;

protected:
  virtual int32_t InternalLoadData() REQUIRES(FLoadLock) = 0;

  TCriticalSection FLoadLock;
  TJobList FItemList;

private:
  TNotifyEvent FOnBeforeLoad{"OnBeforeLoad"};
  TAfterLoadEvent FOnAfterLoad{"OnAfterLoad"};
};

template <class T = void>
class TFileJobListProvider;

// Reads the jobs that a TFileJobListSaver wrote to one file, once in its life: the first LoadData
// reads the file, every later one returns 0 at once and leaves the list as it is, also when the
// file has changed or the first load failed. The loaded jobs come out sorted by Order.
//
// A missing file is no error: the list stays empty. A file that cannot be read or parsed (empty,
// truncated, not XML, another root element) is logged (the exception, then "Failed to load queued
// manual jobs") and the load still returns 0, with whatever jobs were read before the failure. A job
// that cannot be read (an action of an unknown class, a value its member cannot take) is skipped
// with a logged error, and the jobs after it load. The loader never changes the file.
template <>
class TFileJobListProvider<void> : public TCustomListProvider<TJob> {
public:
  explicit TFileJobListProvider(std::string AFilePath);
  std::string ClassName() const override { return "TFileJobListProvider"; }

  virtual std::string GetFilePath() const { return FFilePath; }

protected:
  int32_t InternalLoadData() override REQUIRES(FLoadLock);
  // Called after a failed load has been logged.
  virtual void LoadFailed();

private:
  // False when the file could not be read; the failure is logged.
  bool TryLoadData(const std::string& AFilePath);

  const std::string FFilePath;
  bool FIsDataLoaded GUARDED_BY(FLoadLock) = false;
};

// A loader of a job-action class: its file is the descendant's file name in the storage directory
// of that class, put together on first use and fixed from then on (see the savers).
template <>
class TFileJobListProvider<TScannerJobAction> : public TFileJobListProvider<> {
public:
  explicit TFileJobListProvider(std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> APathProvider);
  std::string ClassName() const override { return "TFileJobListProvider<TScannerJobAction>"; }

  std::string GetFilePath() const override;

protected:
  virtual std::string GetFileName() const = 0;

private:
  const std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> FJobStoragePathProvider;
  mutable std::once_flag FGeneratedFilePathOnce;
  mutable std::string FGeneratedFilePath;
};

template <class T>
class TFileJobListProviderForJobList;
template <class T>
class TFileJobListProviderForQueue;

// The loader of the job list provider's manual jobs: "ManualJobsInJobListProvider.xml".
template <>
class TFileJobListProviderForJobList<TScannerJobAction>
    : public TFileJobListProvider<TScannerJobAction>,
      public virtual IManualJobLoaderJobList<TScannerJobAction> {
public:
  using TFileJobListProvider<TScannerJobAction>::TFileJobListProvider;
  std::string ClassName() const override { return "TFileJobListProviderForJobList<TScannerJobAction>"; }

protected:
  std::string GetFileName() const override;
};

// The loader of the queued manual jobs: "ManualJobsInJobQueue.xml".
template <>
class TFileJobListProviderForQueue<TScannerJobAction>
    : public TFileJobListProvider<TScannerJobAction>,
      public virtual IManualJobLoaderQueue<TScannerJobAction> {
public:
  using TFileJobListProvider<TScannerJobAction>::TFileJobListProvider;
  std::string ClassName() const override { return "TFileJobListProviderForQueue<TScannerJobAction>"; }

protected:
  std::string GetFileName() const override;
};

}  // namespace Orvane
