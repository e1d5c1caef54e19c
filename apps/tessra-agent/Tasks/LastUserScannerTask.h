#pragma once

#include <string>

#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "Tasks/LastUserInventory.h"
#include "Tasks/LoginRecordReader.h"

namespace Orvane {

// The last-user scanner, on Linux: the user who logged on last, from the system's login records,
// with terminal, remote host and logon time. Each run leaves a TLastUserInventory document in
// DATA/results/Last user Scanner/, where the newest results are kept and older ones removed.
// Records that hold no user logon (rotated this month, or a system nobody logged on to) make a
// document with UserFound false and a successful run: that is an answer, not a fault. Records that
// are missing, unreadable or truncated fail the run.
class TLastUserScannerTask : public IAgentTask {
public:
  explicit TLastUserScannerTask(std::string ADataDir,
                                std::string ARecordFile = TLoginRecordReader::CDefaultRecordFile);

  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) override;
  std::string GetAgentTaskId() override;
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) override;

  const std::string& GetResultDir() const { return FResultDir; }
  static constexpr const char* CTaskName = "Last user Scanner";

  // The collection itself; false (logged) when the records cannot be read or the continue check
  // said stop.
  bool Collect(TLastUserInventory& AInventory, const TContinueCheck& ACanContinue) const;

private:
  std::string Run(const std::string& AClientId, const TContinueCheck& ACanContinue, const std::string& ADir);

  std::string FResultDir;
  std::string FRecordFile;
};

}  // namespace Orvane
