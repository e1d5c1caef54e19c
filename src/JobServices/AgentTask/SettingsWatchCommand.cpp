#include "JobServices/AgentTask/SettingsWatchCommand.h"

#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneClientShared/WumJobListProvider.h"
#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

TSettingsWatchTask::TSettingsWatchTask(
    std::shared_ptr<IJobListProvider<TScannerJobAction>> ATaskJobListProvider)
    : FTaskJobListProvider(std::move(ATaskJobListProvider)) {
  if (!FTaskJobListProvider)
    throw EInvalidPointer("TSettingsWatchTask needs the agent-task job list provider");
}

bool TSettingsWatchTask::Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&,
                                 const TContinueCheck&) {
  FTaskJobListProvider->SetLoadListFromServerOnNextFetch(true);
  // The host's second provider gets its jobs from the same server settings; it reloads with ours.
  // A host without one, or with one that is no job list provider, is left alone.
  if (const auto LGlobalProvider = std::dynamic_pointer_cast<IJobListProvider<>>(GetWumJobListProvider()))
    LGlobalProvider->SetLoadListFromServerOnNextFetch(true);
  return true;
}

std::string TSettingsWatchTask::GetAgentTaskId() {
  return std::string(CSettingsWatchId);
}

bool TSettingsWatchTask::ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&,
                                  const TContinueCheck&, const std::string&) {
  return true;
}

}  // namespace Orvane
