#include "OrvaneClientShared/AgentTaskTable.h"

#include <algorithm>

namespace Orvane {

namespace {

using TActionCreator = std::shared_ptr<TScannerJobAction> (*)();

template <class TAction>
std::shared_ptr<TScannerJobAction> CreateAction() {
  return std::make_shared<TAction>();
}

struct TAgentTaskInfo {
  std::string_view Id;
  std::string_view DisplayName;
  TActionCreator CreateAction;
};

constexpr std::array<TAgentTaskInfo, 13> CAgentTasks = {{
    {CComputerScannerId, "Computer Scanner", &CreateAction<TScannerJobAction>},
    {CSoftwareScannerId, "Software Scanner", &CreateAction<TSoftwareScannerJobAction>},
    {CWindowsUpdatesScannerId, "Windows Updates Scanner", &CreateAction<TScannerJobAction>},
    {CSecurityScannerId, "Security Scanner", &CreateAction<TScannerJobAction>},
    {CRulesId, "Rules", &CreateAction<TScannerJobAction>},
    {CClientCommandsScannerId, "Client Commands Scanner", &CreateAction<TScannerJobAction>},
    {CLastUserScannerId, "Last user Scanner", &CreateAction<TScannerJobAction>},
    {CFileScannerId, "File Scanner", &CreateAction<TFileScannerJobAction>},
    {CSettingsWatchId, "Settings watch", &CreateAction<TScannerJobAction>},
    {CRestartAgentId, "Restart Tessra agent", &CreateAction<TScannerJobAction>},
    {CVulnerabilitiesScannerId, "Vulnerabilities Scanner", &CreateAction<TScannerJobAction>},
    {CAviraScannerId, "Avira Scanner", &CreateAction<TAviraScannerJobAction>},
    {CAviraConfigurationScannerId, "Avira Configuration Scanner", &CreateAction<TScannerJobAction>},
}};

const TAgentTaskInfo* FindAgentTaskInfo(std::string_view AId) {
  const auto LFound = std::find_if(CAgentTasks.begin(), CAgentTasks.end(),
                                   [AId](const TAgentTaskInfo& AInfo) { return AInfo.Id == AId; });
  return LFound == CAgentTasks.end() ? nullptr : &*LFound;
}

}  // namespace

std::string GetAgentTaskName(std::string_view AId) {
  const TAgentTaskInfo* LInfo = FindAgentTaskInfo(AId);
  return LInfo ? std::string(LInfo->DisplayName) : std::string();
}

std::shared_ptr<TScannerJobAction> CreateDefaultAgentTaskAction(std::string_view AId) {
  const TAgentTaskInfo* LInfo = FindAgentTaskInfo(AId);
  return LInfo ? LInfo->CreateAction() : std::make_shared<TScannerJobAction>();
}

}  // namespace Orvane
