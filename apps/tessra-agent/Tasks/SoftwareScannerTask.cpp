#include "Tasks/SoftwareScannerTask.h"

#include <exception>
#include <utility>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

TSoftwareScannerTask::TSoftwareScannerTask(const std::string& ADataDir, std::string AStatusFile)
    : TResultTask(ADataDir, std::string(CSoftwareScannerId), CTaskName),
      FStatusFile(std::move(AStatusFile)) {}

bool TSoftwareScannerTask::Collect(TSoftwareInventory& AInventory, const TContinueCheck& ACanContinue) const {
  AInventory.ScannedAt = Now();
  AInventory.SourceFile = FStatusFile;
  if (ACanContinue && !ACanContinue()) {
    OrvaneLogger()->Message("Software Scanner cut short before reading %s", {FStatusFile});
    return false;
  }
  TDpkgStatusReader LReader(FStatusFile);
  try {
    if (!LReader.Read(AInventory.Packages, ACanContinue)) {
      OrvaneLogger()->Message("Software Scanner cut short after %d entries", {LReader.GetEntryCount()});
      return false;
    }
  } catch (const std::exception& E) {
    OrvaneLogger()->LogException(E, "TSoftwareScannerTask.Collect");
    return false;
  }
  AInventory.PackageCount = static_cast<int32_t>(AInventory.Packages.size());
  AInventory.SkippedEntries = static_cast<int32_t>(LReader.GetMalformedCount());
  return true;
}

TResultTask::TTaskRun TSoftwareScannerTask::CollectRun(const std::string& AClientId,
                                                       const std::shared_ptr<TScannerJobAction>&,
                                                       const TContinueCheck& ACanContinue) {
  return CollectDocument<TSoftwareInventory>(
      AClientId, [&](TSoftwareInventory& AInventory) { return Collect(AInventory, ACanContinue); });
}

}  // namespace Orvane
