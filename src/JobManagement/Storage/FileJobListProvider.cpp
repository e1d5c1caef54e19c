#include "JobManagement/Storage/FileJobListProvider.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

namespace {

constexpr const char* CCollectionName = "TJobList";
constexpr const char* CItemName = "TJob";
constexpr const char* CLoadMethodName = "LoadQueuedManualJobs";

}  // namespace

int32_t TCustomListProvider<TJob>::LoadData() {
  TCriticalSectionLock LLock(FLoadLock);
  FOnBeforeLoad.Invoke(this);
  const int32_t LResult = InternalLoadData();
  FOnAfterLoad.Invoke(this, LResult == 0);
  return LResult;
}

TFileJobListProvider<>::TFileJobListProvider(std::string AFilePath) : FFilePath(std::move(AFilePath)) {}

int32_t TFileJobListProvider<>::InternalLoadData() {
  if (FIsDataLoaded) return 0;
  // Set before the attempt: a file that failed once is not read again by this loader.
  FIsDataLoaded = true;

  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter(CLoadMethodName, this);
  const std::string LFilePath = GetFilePath();
  if (FileExists(LFilePath) && !TryLoadData(LFilePath)) {
    LLogger->Message("Failed to load queued manual jobs");
    LoadFailed();
  }
  LLogger->TraceExit(CLoadMethodName, this);
  return 0;
}

void TFileJobListProvider<>::LoadFailed() {}

bool TFileJobListProvider<>::TryLoadData(const std::string& AFilePath) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  try {
    TXmlSerializer LSerializer;
    // A file of ours with a damaged text still holds the jobs; the repaired text is what the next
    // save writes.
    LSerializer.SetRepairsInvalidUtf8(true);
    LSerializer.LoadFromFile(AFilePath);
    LogRepairedUtf8(LSerializer, AFilePath);
    TAbstractSerializerHelper::InternalDeserialize<TJob>(LSerializer, FItemList, CCollectionName, CItemName,
                                                         [] { return std::make_shared<TJob>(); });
    LLogger->IntegerValue("Loaded queued jobs", static_cast<int64_t>(FItemList.size()));
    // Stable, so that jobs of equal Order keep the order in which they were saved.
    std::stable_sort(FItemList.begin(), FItemList.end(), [](const TJobPtr& ALeft, const TJobPtr& ARight) {
      return ALeft->GetOrder() < ARight->GetOrder();
    });
    if (LLogger->IsActive()) {
      for (const TJobPtr& LJob : FItemList)
        LLogger->MessageObject("Manual job: \"%s\"", {LJob->GetDisplayText()}, LJob.get());
    }
    return true;
  } catch (const std::exception& LException) {
    LLogger->LogException(LException, "");
  } catch (...) {
    LLogger->LogException(Exception("Exception of unknown type"), "");
  }
  return false;
}

TFileJobListProvider<TScannerJobAction>::TFileJobListProvider(
    std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> APathProvider)
    : TFileJobListProvider<>(""), FJobStoragePathProvider(std::move(APathProvider)) {
  if (!FJobStoragePathProvider)
    throw EInvalidPointer("TFileJobListProvider<TScannerJobAction>: the storage path provider is nil");
}

std::string TFileJobListProvider<TScannerJobAction>::GetFilePath() const {
  std::call_once(FGeneratedFilePathOnce, [this] {
    FGeneratedFilePath =
        IncludeTrailingPathDelimiter(FJobStoragePathProvider->GetStoragePath()) + GetFileName();
  });
  return FGeneratedFilePath;
}

std::string TFileJobListProviderForJobList<TScannerJobAction>::GetFileName() const {
  return CManualJobsInJobListProviderFileName;
}

std::string TFileJobListProviderForQueue<TScannerJobAction>::GetFileName() const {
  return CManualJobsInJobQueueFileName;
}

}  // namespace Orvane
