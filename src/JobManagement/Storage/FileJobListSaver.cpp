#include "JobManagement/Storage/FileJobListSaver.h"

#include <cerrno>
#include <exception>
#include <system_error>
#include <utility>

#include "JobManagement/Storage/FilePermissionUtils.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

constexpr const char* CCollectionName = "TJobList";

// Switches a saver's events off for the time of a save and afterwards back to what they were, also
// when the save raises.
class TEventsHeldBack {
public:
  TEventsHeldBack(TNotifyEvent& AAfterSave, TAfterSaveItemEvent& AAfterSaveItem)
      : FAfterSave(AAfterSave),
        FAfterSaveItem(AAfterSaveItem),
        FAfterSaveWasEnabled(AAfterSave.GetEnabled()),
        FAfterSaveItemWasEnabled(AAfterSaveItem.GetEnabled()) {
    FAfterSave.SetEnabled(false);
    FAfterSaveItem.SetEnabled(false);
  }
  ~TEventsHeldBack() {
    FAfterSave.SetEnabled(FAfterSaveWasEnabled);
    FAfterSaveItem.SetEnabled(FAfterSaveItemWasEnabled);
  }
  TEventsHeldBack(const TEventsHeldBack&) = delete;
  TEventsHeldBack& operator=(const TEventsHeldBack&) = delete;

private:
  TNotifyEvent& FAfterSave;
  TAfterSaveItemEvent& FAfterSaveItem;
  const bool FAfterSaveWasEnabled;
  const bool FAfterSaveItemWasEnabled;
};

}  // namespace

int32_t TCustomItemSaver<TJob>::SaveItem(const TJobPtr& AItem) {
  TCriticalSectionLock LLock(FSaveLock);
  const int32_t LResult = InternalSaveItem(AItem);
  if (LResult != 0) return LResult;
  FAfterSaveItem.Invoke(AItem);
  FAfterSave.Invoke(this);
  return 0;
}

int32_t TCustomItemSaver<TJob>::SaveItems(const IEnumerable<TJobPtr>& AItems) {
  TCriticalSectionLock LLock(FSaveLock);
  int32_t LResult;
  {
    TEventsHeldBack LHeldBack(FAfterSave, FAfterSaveItem);
    LResult = InternalSaveItems(AItems);
  }
  if (LResult != 0) return LResult;
  // The sequence may be a lazy view over the owner's list; walking it costs nothing to skip.
  if (FAfterSaveItem.Count() > 0) {
    for (const TJobPtr& LItem : AItems) FAfterSaveItem.Invoke(LItem);
  }
  FAfterSave.Invoke(this);
  return 0;
}

int32_t TCustomItemSaver<TJob>::InternalSaveItems(const IEnumerable<TJobPtr>& AItems) {
  int32_t LResult = 0;
  for (const TJobPtr& LItem : AItems) {
    LResult = SaveItem(LItem);
    if (LResult != 0) break;
  }
  return LResult;
}

TFileJobListSaver<>::TFileJobListSaver(std::string AFilePath) : FFilePath(std::move(AFilePath)) {}

int32_t TFileJobListSaver<>::InternalSaveItem(const TJobPtr& AItem) {
  return SaveItems(IEnumerable<TJobPtr>::FromVector({AItem}));
}

int32_t TFileJobListSaver<>::InternalSaveItems(const IEnumerable<TJobPtr>& AItems) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  const std::string LFilePath = GetFilePath();
  // Walked once: the sequence may be a lazy view that the owner holds its lock for.
  const TJobList LItems = AItems.ToVector();
  LLogger->IntegerValue("Manual job count", static_cast<int64_t>(LItems.size()));
  LogItemsToSave(LItems);
  FSaveLock.AssertHeld();
  if (IsOnDiskAlready(LFilePath, LItems)) {
    SetFilePermissions(LFilePath);
    return 0;
  }
  FLastWrite.reset();
  // Read before the jobs are: a change made after this moment carries a later stamp.
  const uint64_t LStamp = TChangeStamp::Latest();

  TXmlSerializer LSerializer;
  LSerializer.BeginCollection(CCollectionName);
  for (std::size_t LIndex = 0; LIndex < LItems.size(); ++LIndex) {
    if (!LItems[LIndex])
      throw EInvalidPointer(MakeContext(*this, "InternalSaveItems") + ": job " + std::to_string(LIndex + 1) +
                            " of the list is nil");
    LSerializer.WriteObject(*LItems[LIndex]);
  }
  LSerializer.EndCollection(CCollectionName);
  const std::string LXml = LSerializer.GetXml();

  // A directory that cannot be made is reported by the write below, with the rest of its failures.
  const std::string LDirectory = ExtractFileDir(LFilePath);
  int LDirectoryError = 0;
  if (!LDirectory.empty() && !ForceDirectories(LDirectory)) LDirectoryError = errno;

  int32_t LResult = 0;
  try {
    if (LDirectoryError != 0)
      throw EOSError("Cannot create the directory \"" + LDirectory +
                         "\": " + std::system_category().message(LDirectoryError),
                     LDirectoryError);
    SaveFileAtomically(LFilePath, LXml);
    SetFilePermissions(LFilePath);
  } catch (const std::exception& LException) {
    LLogger->LogException(LException, MakeContext(*this, "InternalSaveItems"));
    // The owners answer their callers with this: a save that did not reach the disk is no success.
    const auto* LOSError = dynamic_cast<const EOSError*>(&LException);
    LResult = LOSError && LOSError->ErrorCode() != 0 ? LOSError->ErrorCode() : EIO;
  }
  if (LResult == 0) {
    if (const std::optional<TFileVersion> LFile = FileVersionOf(LFilePath)) {
      TLastWrite LWrite{{}, LStamp, *LFile};
      LWrite.Jobs.reserve(LItems.size());
      for (const TJobPtr& LItem : LItems) LWrite.Jobs.push_back(LItem.get());
      FLastWrite = std::move(LWrite);
    }
  }
  AfterXmlSaved(LXml);
  return LResult;
}

bool TFileJobListSaver<>::IsOnDiskAlready(const std::string& AFilePath, const TJobList& AItems) const {
  if (!FLastWrite || FLastWrite->Jobs.size() != AItems.size()) return false;
  for (std::size_t LIndex = 0; LIndex < AItems.size(); ++LIndex) {
    // A job made after the write has a later stamp, so an address used again is no risk.
    const TJobPtr& LItem = AItems[LIndex];
    if (LItem.get() != FLastWrite->Jobs[LIndex] || LItem->GetContentStamp() > FLastWrite->Stamp) return false;
  }
  // Asked last: one system call, and only when the jobs are the same.
  return FileVersionOf(AFilePath) == FLastWrite->File;
}

void TFileJobListSaver<>::AfterXmlSaved(const std::string&) {}

void TFileJobListSaver<>::LogItemsToSave(const TJobList& AItems) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  if (!LLogger->IsActive()) return;
  for (const TJobPtr& LJob : AItems) {
    if (LJob) LLogger->MessageObject("Job to save: \"%s\"", {LJob->GetDisplayText()}, LJob.get());
  }
}

void TFileJobListSaver<>::SetFilePermissions(const std::string& AFilePath) {
  SetAllRightsForEverybody(AFilePath, true);
}

void TFileJobListSaverNoPermissions::SetFilePermissions(const std::string&) {}

void TFileJobListSaverNoPermissionsNoLogging::LogItemsToSave(const TJobList&) {}

TFileJobListSaver<TScannerJobAction>::TFileJobListSaver(
    std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> APathProvider)
    : TFileJobListSaverNoPermissionsNoLogging(""), FJobStoragePathProvider(std::move(APathProvider)) {
  if (!FJobStoragePathProvider)
    throw EInvalidPointer("TFileJobListSaver<TScannerJobAction>: the storage path provider is nil");
}

std::string TFileJobListSaver<TScannerJobAction>::GetFilePath() const {
  std::call_once(FGeneratedFilePathOnce, [this] {
    FGeneratedFilePath =
        IncludeTrailingPathDelimiter(FJobStoragePathProvider->GetStoragePath()) + GetFileName();
  });
  return FGeneratedFilePath;
}

std::string TFileJobListSaverForJobList<TScannerJobAction>::GetFileName() const {
  return CManualJobsInJobListProviderFileName;
}

std::string TFileJobListSaverForQueue<TScannerJobAction>::GetFileName() const {
  return CManualJobsInJobQueueFileName;
}

}  // namespace Orvane
