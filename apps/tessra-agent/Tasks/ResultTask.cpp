#include "Tasks/ResultTask.h"

#include <utility>

#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {

TResultTask::TResultTask(const std::string& ADataDir, std::string ATaskId, std::string ATaskName)
    : FTaskId(std::move(ATaskId)),
      FTaskName(std::move(ATaskName)),
      FResults(TTaskResultStore::ForTask(ADataDir, FTaskName)) {}

std::string TResultTask::Run(const std::string& AClientId,
                             const std::shared_ptr<TScannerJobAction>& AJobAction,
                             const TContinueCheck& ACanContinue, const TTaskResultStore& AStore,
                             bool& ASucceeded) {
  ASucceeded = false;
  const TTaskRun LRun = CollectRun(AClientId, AJobAction, ACanContinue);
  if (!LRun.Document) return "";
  std::string LFileName = AStore.Write(*LRun.Document, LRun.At);
  ASucceeded = LRun.Succeeded && !LFileName.empty();
  return LFileName;
}

bool TResultTask::Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                          const TContinueCheck& ACanContinueProcessing) {
  bool LSucceeded = false;
  const std::string LFileName = Run(AClientId, AJobAction, ACanContinueProcessing, FResults, LSucceeded);
  if (LFileName.empty()) return false;
  FResults.RemoveOld();
  OrvaneLogger()->Message(FTaskName + " result: %s", {LFileName});
  if (FSink) FSink->ResultWritten(FTaskId, LFileName);
  return LSucceeded;
}

bool TResultTask::ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                           const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) {
  bool LSucceeded = false;
  Run(AClientId, AJobAction, ACanContinueProcessing, TTaskResultStore(ATargetDir, "", FTaskName), LSucceeded);
  return LSucceeded;
}

}  // namespace Orvane
