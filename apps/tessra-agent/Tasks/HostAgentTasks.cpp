#include "Tasks/HostAgentTasks.h"

#include "Tasks/ComputerScannerTask.h"
#include "Tasks/FileScannerTask.h"
#include "Tasks/LastUserScannerTask.h"
#include "Tasks/SoftwareScannerTask.h"

namespace Orvane {

std::vector<THostAgentTask> CreateHostAgentTasks(const std::string& ADataDir) {
  return {
      {"TComputerScannerTask", std::make_shared<TComputerScannerTask>(ADataDir)},
      {"TSoftwareScannerTask", std::make_shared<TSoftwareScannerTask>(ADataDir)},
      {"TLastUserScannerTask", std::make_shared<TLastUserScannerTask>(ADataDir)},
      {"TFileScannerTask", std::make_shared<TFileScannerTask>(ADataDir)},
  };
}

}  // namespace Orvane
