#include "Tasks/LastUserScannerTask.h"

#include <exception>
#include <utility>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

TLastUserScannerTask::TLastUserScannerTask(const std::string& ADataDir, std::string ARecordFile)
    : TResultTask(ADataDir, std::string(CLastUserScannerId), CTaskName),
      FRecordFile(std::move(ARecordFile)) {}

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

TResultTask::TTaskRun TLastUserScannerTask::CollectRun(const std::string& AClientId,
                                                       const std::shared_ptr<TScannerJobAction>&,
                                                       const TContinueCheck& ACanContinue) {
  return CollectDocument<TLastUserInventory>(
      AClientId, [&](TLastUserInventory& AInventory) { return Collect(AInventory, ACanContinue); });
}

}  // namespace Orvane
