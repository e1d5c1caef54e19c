#include "Tasks/ResultTask.h"

#include <utility>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {

TResultTask::TResultTask(const std::string& ADataDir, std::string ATaskId, std::string ATaskName)
    : FTaskId(std::move(ATaskId)),
      FTaskName(std::move(ATaskName)),
      FResultDir(TTaskResultStore::ResultDir(ADataDir, FTaskName)) {}

std::string TResultTask::Run(const std::string& AClientId,
                             const std::shared_ptr<TScannerJobAction>& AJobAction,
                             const TContinueCheck& ACanContinue, const std::string& ADir, bool& ASucceeded) {
  ASucceeded = false;
  const TTaskRun LRun = CollectRun(AClientId, AJobAction, ACanContinue);
  if (!LRun.Document) return "";
  std::string LFileName = TTaskResultStore::Write(*LRun.Document, LRun.At, ADir, FTaskName);
  ASucceeded = LRun.Succeeded && !LFileName.empty();
  return LFileName;
}

bool TResultTask::Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                          const TContinueCheck& ACanContinueProcessing) {
  bool LSucceeded = false;
  const std::string LFileName = Run(AClientId, AJobAction, ACanContinueProcessing, FResultDir, LSucceeded);
  if (LFileName.empty()) return false;
  TTaskResultStore::RemoveOld(FResultDir);
  OrvaneLogger()->Message(FTaskName + " result: %s", {LFileName});
  return LSucceeded;
}

bool TResultTask::ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                           const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) {
  bool LSucceeded = false;
  Run(AClientId, AJobAction, ACanContinueProcessing, ATargetDir, LSucceeded);
  return LSucceeded;
}

}  // namespace Orvane
