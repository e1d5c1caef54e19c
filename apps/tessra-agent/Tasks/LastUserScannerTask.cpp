#include "Tasks/LastUserScannerTask.h"

#include <exception>
#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {

TLastUserScannerTask::TLastUserScannerTask(std::string ADataDir, std::string ARecordFile)
    : FResultDir(TTaskResultStore::ResultDir(ADataDir, CTaskName)), FRecordFile(std::move(ARecordFile)) {}

std::string TLastUserScannerTask::GetAgentTaskId() {
  return std::string(CLastUserScannerId);
}

bool TLastUserScannerTask::Collect(TLastUserInventory& AInventory, const TContinueCheck& ACanContinue) const {
  AInventory.ScannedAt = Now();
  AInventory.SourceFile = FRecordFile;
  if (ACanContinue && !ACanContinue()) {
    OrvaneLogger()->Message("Last user Scanner cut short before reading %s", {FRecordFile});
    return false;
  }
  TLoginRecordReader LReader(FRecordFile);
  try {
    if (!LReader.Read(ACanContinue)) {
      OrvaneLogger()->Message("Last user Scanner cut short after %d records", {LReader.GetRecordCount()});
      return false;
    }
  } catch (const std::exception& E) {
    OrvaneLogger()->LogException(E, "TLastUserScannerTask.Collect");
    return false;
  }
  AInventory.LoginCount = static_cast<int32_t>(LReader.GetLoginCount());
  AInventory.UserFound = LReader.HasLogin();
  if (!AInventory.UserFound) {
    OrvaneLogger()->Message("Last user Scanner: no user logon in %s", {FRecordFile});
    return true;
  }
  const TLoginRecord& LLogin = LReader.GetLastLogin();
  AInventory.UserName = LLogin.UserName;
  AInventory.Terminal = LLogin.Terminal;
  AInventory.Host = LLogin.Host;
  AInventory.LoginTime =
      UtcToLocal(UnixToUtcDateTime(static_cast<double>(LLogin.Seconds) + LLogin.MicroSeconds / 1e6));
  return true;
}

std::string TLastUserScannerTask::Run(const std::string& AClientId, const TContinueCheck& ACanContinue,
                                      const std::string& ADir) {
  TLastUserInventory LInventory;
  LInventory.ClientId = AClientId;
  if (!Collect(LInventory, ACanContinue)) return "";
  return TTaskResultStore::Write(LInventory, LInventory.ScannedAt, ADir, CTaskName);
}

bool TLastUserScannerTask::Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>&,
                                   const TContinueCheck& ACanContinueProcessing) {
  const std::string LFileName = Run(AClientId, ACanContinueProcessing, FResultDir);
  if (LFileName.empty()) return false;
  TTaskResultStore::RemoveOld(FResultDir);
  OrvaneLogger()->Message("Last user Scanner result: %s", {LFileName});
  return true;
}

bool TLastUserScannerTask::ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>&,
                                    const TContinueCheck& ACanContinueProcessing,
                                    const std::string& ATargetDir) {
  return !Run(AClientId, ACanContinueProcessing, ATargetDir).empty();
}

}  // namespace Orvane
