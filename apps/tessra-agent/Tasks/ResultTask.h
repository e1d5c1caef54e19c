#pragma once

#include <memory>
#include <string>
#include <utility>

#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Tasks/ResultSink.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {

// An agent task whose run leaves one document: Execute writes it into DATA/results/TASK NAME/,
// keeps the newest results there and removes older ones; ScanOnly writes it into the folder it is
// given. What Execute writes also goes to the result sink, when there is one. A descendant only
// collects the document.
class TResultTask : public IAgentTask {
public:
  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) final;
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) final;

  std::string GetAgentTaskId() final { return FTaskId; }

  std::string GetResultDir() const { return FResults.GetDir(); }
  // Set before the task first runs (the host wires it while it registers its tasks), never after.
  void SetResultSink(std::shared_ptr<IResultSink> ASink) { FSink = std::move(ASink); }

protected:
  TResultTask(const std::string& ADataDir, std::string ATaskId, std::string ATaskName);

  struct TTaskRun {
    std::shared_ptr<TTessraData> Document;  // nullptr: nothing to write (failed or cut short; logged)
    TDateTime At = CNoDateTime;             // names the result file
    // A failed run may still leave its document, so that the server sees what was found.
    bool Succeeded = false;
  };
  // One collection; asks ACanContinue during long work.
  virtual TTaskRun CollectRun(const std::string& AClientId,
                              const std::shared_ptr<TScannerJobAction>& AJobAction,
                              const TContinueCheck& ACanContinue) = 0;

  // A run over a fresh TDocument for AClientId, filled by ACollect (false: nothing to write) and
  // named by its ScannedAt.
  template <class TDocument, class TCollect>
  static TTaskRun CollectDocument(const std::string& AClientId, TCollect&& ACollect) {
    auto LDocument = std::make_shared<TDocument>();
    LDocument->ClientId = AClientId;
    if (!ACollect(*LDocument)) return {};
    return {LDocument, LDocument->ScannedAt, true};
  }

private:
  // Collects and writes into AStore; the written file, "" when none. ASucceeded: the run's outcome.
  std::string Run(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                  const TContinueCheck& ACanContinue, const TTaskResultStore& AStore, bool& ASucceeded);

  std::string FTaskId;
  std::string FTaskName;
  TTaskResultStore FResults;
  std::shared_ptr<IResultSink> FSink;  // null: the results stay local
};

}  // namespace Orvane
