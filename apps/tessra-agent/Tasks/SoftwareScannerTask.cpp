#include "Tasks/SoftwareScannerTask.h"

#include <exception>
#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {

TSoftwareScannerTask::TSoftwareScannerTask(std::string ADataDir, std::string AStatusFile)
    : FResultDir(TTaskResultStore::ResultDir(ADataDir, CTaskName)), FStatusFile(std::move(AStatusFile)) {}

std::string TSoftwareScannerTask::GetAgentTaskId() {
  return std::string(CSoftwareScannerId);
}

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

std::string TSoftwareScannerTask::Run(const std::string& AClientId, const TContinueCheck& ACanContinue,
                                      const std::string& ADir) {
  TSoftwareInventory LInventory;
  LInventory.ClientId = AClientId;
  if (!Collect(LInventory, ACanContinue)) return "";
  return TTaskResultStore::Write(LInventory, LInventory.ScannedAt, ADir, CTaskName);
}

bool TSoftwareScannerTask::Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>&,
                                   const TContinueCheck& ACanContinueProcessing) {
  const std::string LFileName = Run(AClientId, ACanContinueProcessing, FResultDir);
  if (LFileName.empty()) return false;
  TTaskResultStore::RemoveOld(FResultDir);
  OrvaneLogger()->Message("Software Scanner result: %s", {LFileName});
  return true;
}

bool TSoftwareScannerTask::ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>&,
                                    const TContinueCheck& ACanContinueProcessing,
                                    const std::string& ATargetDir) {
  return !Run(AClientId, ACanContinueProcessing, ATargetDir).empty();
}

}  // namespace Orvane
