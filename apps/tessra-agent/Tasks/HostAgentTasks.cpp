#include "Tasks/HostAgentTasks.h"

#include "Tasks/ComputerScannerTask.h"
#include "Tasks/FileScannerTask.h"
#include "Tasks/LastUserScannerTask.h"
#include "Tasks/SoftwareScannerTask.h"

namespace Orvane {

namespace {

template <class TTask>
THostAgentTask ResultTask(const char* ARegistrationName, const std::string& ADataDir,
                          const std::shared_ptr<IResultSink>& ASink) {
  auto LTask = std::make_shared<TTask>(ADataDir);
  LTask->SetResultSink(ASink);
  return {ARegistrationName, LTask};
}

}  // namespace

std::vector<THostAgentTask> CreateHostAgentTasks(const std::string& ADataDir,
                                                 const std::shared_ptr<IResultSink>& ASink) {
  return {
      ResultTask<TComputerScannerTask>("TComputerScannerTask", ADataDir, ASink),
      ResultTask<TSoftwareScannerTask>("TSoftwareScannerTask", ADataDir, ASink),
      ResultTask<TLastUserScannerTask>("TLastUserScannerTask", ADataDir, ASink),
      ResultTask<TFileScannerTask>("TFileScannerTask", ADataDir, ASink),
  };
}

}  // namespace Orvane
