#pragma once

#include <string>

#include "Tasks/ComputerInventory.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"

namespace Orvane {

// The computer scanner, on Linux: host name, OS release, kernel, processor, memory, file systems
// and network interfaces. Each run leaves a TComputerInventory document in
// DATA/results/Computer Scanner/, where the newest results are kept and older ones removed. It asks
// the continue check between its steps, so that a stop or a shutdown cuts a run short.
class TComputerScannerTask : public IAgentTask {
public:
  explicit TComputerScannerTask(std::string ADataDir);

  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) override;
  std::string GetAgentTaskId() override;
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) override;

  const std::string& GetResultDir() const { return FResultDir; }
  static constexpr const char* CTaskName = "Computer Scanner";

  // The collection itself; false when the continue check said stop.
  static bool Collect(TComputerInventory& AInventory, const TContinueCheck& ACanContinue);

private:
  std::string FResultDir;
};

}  // namespace Orvane
