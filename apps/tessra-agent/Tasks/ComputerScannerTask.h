#pragma once

#include <string>

#include "Tasks/ComputerInventory.h"
#include "Tasks/ResultTask.h"

namespace Orvane {

// The computer scanner, on Linux: host name, OS release, kernel, processor, memory, file systems
// and network interfaces. Each run leaves a TComputerInventory document in
// DATA/results/Computer Scanner/, where the newest results are kept and older ones removed. It asks
// the continue check between its steps, so that a stop or a shutdown cuts a run short.
class TComputerScannerTask : public TResultTask {
public:
  static constexpr const char* CTaskName = "Computer Scanner";

  explicit TComputerScannerTask(const std::string& ADataDir);

  // The collection itself; false when the continue check said stop.
  static bool Collect(TComputerInventory& AInventory, const TContinueCheck& ACanContinue);

protected:
  TTaskRun CollectRun(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                      const TContinueCheck& ACanContinue) override;
};

}  // namespace Orvane
