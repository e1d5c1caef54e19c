#include "JobServices/AgentTask/ClientCommandScannerCommand.h"

#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"

namespace Orvane {

TClientCommandScanner::TClientCommandScanner(Lazy<IJobListProvider<TJobAction>> AJobListProvider)
    : FJobListProvider(std::move(AJobListProvider)) {}

bool TClientCommandScanner::Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&,
                                    const TContinueCheck&) {
  FJobListProvider->SetLoadListFromServerOnNextFetch(true);
  return true;
}

std::string TClientCommandScanner::GetAgentTaskId() {
  return std::string(CClientCommandsScannerId);
}

bool TClientCommandScanner::ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&,
                                     const TContinueCheck&, const std::string&) {
  return true;
}

}  // namespace Orvane
