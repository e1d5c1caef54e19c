#include "Tasks/HostAgentTasks.h"

#include "Tasks/ComputerScannerTask.h"

namespace Orvane {

std::vector<THostAgentTask> CreateHostAgentTasks(const std::string& ADataDir) {
  return {
      {"TComputerScannerTask", std::make_shared<TComputerScannerTask>(ADataDir)},
  };
}

}  // namespace Orvane
