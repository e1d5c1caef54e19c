#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Interfaces/ItemSaver.Intf.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"
#include "OrvaneCore/Platform/CriticalSection.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

template <class T = void>
class TCustomItemSaver;

// The part of every saver that does not depend on the item type: the after-save event, raised with
// the saver as sender once a whole save has succeeded.
template <>
class TCustomItemSaver<void> : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TCustomItemSaver"; }

  TNotifyEvent& GetAfterSave() { return FAfterSave; }

protected:
  TNotifyEvent FAfterSave{"AfterSave"};
};

// A saver of jobs. Descendants write the items (InternalSaveItem, InternalSaveItems); this class
// raises the events: after a successful SaveItems the after-save-item event once per item in
// enumeration order, then the after-save event; the events of the single saves that a default
// InternalSaveItems makes are held back meanwhile.
//
// Threading: one save at a time. SaveItem and SaveItems hold FSaveLock (recursive, because a save
// of one item may be a save of a list of one) for the whole save, the events included: the events'
// enabled switches belong to the saver, and two saves toggling them at once would swallow each
// other's notifications. The lock comes after the owners' locks (the queue's, the job list
// provider's), which are held while they save; handlers run under it and must not wait for another
// thread that saves through this saver.
template <>
class TCustomItemSaver<TJob> : public TCustomItemSaver<>, public virtual IItemSaver<TJob> {
public:
  std::string ClassName() const override { return "TCustomItemSaver<TJob>"; }

  int32_t SaveItem(const TJobPtr& AItem) override;
  int32_t SaveItems(const IEnumerable<TJobPtr>& AItems) override;
  TNotifyEvent& GetAfterSave() override { return FAfterSave; }
  TAfterSaveItemEvent& GetAfterSaveItem() override { return FAfterSaveItem; }
  TClassName GetItemClass() override { return "TJob"; }

protected:
  virtual int32_t InternalSaveItem(const TJobPtr& AItem) = 0;
  // Saves the items one by one through SaveItem and stops at the first failure, whose result it
  // returns; 0 for an empty sequence.
  virtual int32_t InternalSaveItems(const IEnumerable<TJobPtr>& AItems);

  TCriticalSection FSaveLock;
  TAfterSaveItemEvent FAfterSaveItem{"AfterSaveItem"};
};

template <class T = void>
class TFileJobListSaver;

// Writes a whole list of jobs to one XML file (the collection "TJobList", one TJob per job in the
// order given), replacing the file atomically. A failed write or permission step is logged with the
// context "<class name>.InternalSaveItems" and the result is the errno of the call that failed (EIO
// when there is none); the file then holds what it held before, and no after-save event is raised,
// so an owner can tell its caller that the jobs are not on disk. What cannot be prepared
// (serialising the jobs) reaches the caller.
//
// A save of the very jobs the last successful write of this saver wrote, in the same order, none
// of them changed since (their content stamps are no later than the change sequence read before
// that write serialised them), while the file still is the one that write left (inode, size and
// modification time), writes nothing: it succeeds and raises the events as a write does, since the
// jobs are on disk. Anything else writes as usual; a failed write forgets the last one.
//
// The steps that the variants switch off: LogItemsToSave (one "Job to save" line per job, only
// while the logger is active) and SetFilePermissions (the file is opened to every user through the
// permissions plug-in; without it the file stays owner-only, 0600). A missing directory of the
// file is created with its parents, the directory itself owner-only (0700).
template <>
class TFileJobListSaver<void> : public TCustomItemSaver<TJob> {
public:
  explicit TFileJobListSaver(std::string AFilePath);
  std::string ClassName() const override { return "TFileJobListSaver"; }

  virtual std::string GetFilePath() const { return FFilePath; }

protected:
  // Writes a list holding AItem alone. The nested SaveItems raises the events, and SaveItem raises
  // them once more after it, as the host's savers always did.
  int32_t InternalSaveItem(const TJobPtr& AItem) override;
  int32_t InternalSaveItems(const IEnumerable<TJobPtr>& AItems) override;
  // The document just written, also after a failed write; for descendants that keep or send it.
  virtual void AfterXmlSaved(const std::string& AXml);
  virtual void LogItemsToSave(const TJobList& AItems);
  virtual void SetFilePermissions(const std::string& AFilePath);

private:
  // What the last successful write put on disk.
  struct TLastWrite {
    std::vector<const TJob*> Jobs;  // identities only, never followed
    uint64_t Stamp = 0;
    TFileVersion File;
  };

  bool IsOnDiskAlready(const std::string& AFilePath, const TJobList& AItems) const REQUIRES(FSaveLock);

  const std::string FFilePath;
  std::optional<TLastWrite> FLastWrite GUARDED_BY(FSaveLock);
};

// Logs the jobs it saves but leaves the file owner-only. The job-queue builder makes its savers
// from this class.
class TFileJobListSaverNoPermissions : public TFileJobListSaver<> {
public:
  using TFileJobListSaver<>::TFileJobListSaver;
  std::string ClassName() const override { return "TFileJobListSaverNoPermissions"; }

protected:
  void SetFilePermissions(const std::string& AFilePath) override;
};

// Logs only the job count of a save; the base of the registered savers.
class TFileJobListSaverNoPermissionsNoLogging : public TFileJobListSaverNoPermissions {
public:
  using TFileJobListSaverNoPermissions::TFileJobListSaverNoPermissions;
  std::string ClassName() const override { return "TFileJobListSaverNoPermissionsNoLogging"; }

protected:
  void LogItemsToSave(const TJobList& AItems) override;
};

// A saver of a job-action class: its file is the descendant's file name in the storage directory
// of that class. The path is put together on first use (the file name comes from the most derived
// class, which a constructor cannot ask yet) and is fixed from then on; the path provider is
// immutable, so any thread may be first.
template <>
class TFileJobListSaver<TScannerJobAction> : public TFileJobListSaverNoPermissionsNoLogging {
public:
  explicit TFileJobListSaver(std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> APathProvider);
  std::string ClassName() const override { return "TFileJobListSaver<TScannerJobAction>"; }

  std::string GetFilePath() const override;

protected:
  virtual std::string GetFileName() const = 0;

private:
  const std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> FJobStoragePathProvider;
  mutable std::once_flag FGeneratedFilePathOnce;
  mutable std::string FGeneratedFilePath;
};

template <class T>
class TFileJobListSaverForJobList;
template <class T>
class TFileJobListSaverForQueue;

// The saver of the job list provider's manual jobs: "ManualJobsInJobListProvider.xml".
template <>
class TFileJobListSaverForJobList<TScannerJobAction>
    : public TFileJobListSaver<TScannerJobAction>, public virtual IManualJobSaverJobList<TScannerJobAction> {
public:
  using TFileJobListSaver<TScannerJobAction>::TFileJobListSaver;
  std::string ClassName() const override { return "TFileJobListSaverForJobList<TScannerJobAction>"; }

protected:
  std::string GetFileName() const override;
};

// The saver of the queued manual jobs: "ManualJobsInJobQueue.xml".
template <>
class TFileJobListSaverForQueue<TScannerJobAction> : public TFileJobListSaver<TScannerJobAction>,
                                                     public virtual IManualJobSaverQueue<TScannerJobAction> {
public:
  using TFileJobListSaver<TScannerJobAction>::TFileJobListSaver;
  std::string ClassName() const override { return "TFileJobListSaverForQueue<TScannerJobAction>"; }

protected:
  std::string GetFileName() const override;
};

// A class of savers that write one given file, as a class reference: it makes a saver of its class
// for a file path. NewFileJobListSaver<TFileJobListSaverNoPermissions> is one.
using TFileJobListSaverClass = std::shared_ptr<TFileJobListSaver<>> (*)(const std::string& AFilePath);

template <class TSaver>
std::shared_ptr<TFileJobListSaver<>> NewFileJobListSaver(const std::string& AFilePath) {
  return std::make_shared<TSaver>(AFilePath);
}

// The file names of the two owners' manual jobs.
inline constexpr const char* CManualJobsInJobQueueFileName = "ManualJobsInJobQueue.xml";
inline constexpr const char* CManualJobsInJobListProviderFileName = "ManualJobsInJobListProvider.xml";

}  // namespace Orvane
