#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane {

// The name under which the container holds the job service that runs the agent tasks.
inline constexpr const char* CAgentTasksJobServiceName = "AgentTasks";

// The agent tasks the job service knows by id: their display names and the action class a new
// job of the task gets. Shared by the module and the host, which names and lists tasks without
// loading the module. Ids are brace-enclosed upper-case GUID texts and compare exactly here;
// callers that must ignore letter case say so themselves.

inline constexpr std::string_view CComputerScannerId = "{B3A5474A-E933-4CC0-8567-C80F6591AC19}";
inline constexpr std::string_view CSoftwareScannerId = "{072BE601-5372-4618-9A6D-2571D230278E}";
inline constexpr std::string_view CWindowsUpdatesScannerId = "{08A781AF-FC85-4227-8D4F-5CCA2DDC568E}";
inline constexpr std::string_view CSecurityScannerId = "{A046534C-AC00-413F-ACA6-DEC327F1FCCA}";
inline constexpr std::string_view CRulesId = "{BCC3C8C0-EDC0-4572-BD1B-7B8330050C09}";
inline constexpr std::string_view CClientCommandsScannerId = "{F5C78CFA-15A8-434E-812F-6FB8908CB015}";
inline constexpr std::string_view CLastUserScannerId = "{7D9556ED-EA9D-433B-B195-5ED49A47AF14}";
inline constexpr std::string_view CFileScannerId = "{F21E8F93-BA40-41E7-A9FB-A0771FA3480B}";
inline constexpr std::string_view CSettingsWatchId = "{EE727092-AD9C-42F3-B73D-053CAD48C72B}";
inline constexpr std::string_view CRestartAgentId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";
inline constexpr std::string_view CVulnerabilitiesScannerId = "{0D2B8D0A-0A1E-4669-AD9C-4A589A3DE402}";
inline constexpr std::string_view CAviraScannerId = "{DC5FBA18-C580-49E8-A0A9-9407EB83B2FE}";
inline constexpr std::string_view CAviraConfigurationScannerId = "{618CA3BE-5F82-4C99-AB31-254E81096110}";

// Every agent task id, in the order of the task table.
inline constexpr std::array<std::string_view, 13> CAgentTaskIds = {
    CComputerScannerId,       CSoftwareScannerId, CWindowsUpdatesScannerId, CSecurityScannerId,
    CRulesId,                 CClientCommandsScannerId, CLastUserScannerId, CFileScannerId,
    CSettingsWatchId,         CRestartAgentId,    CVulnerabilitiesScannerId, CAviraScannerId,
    CAviraConfigurationScannerId};

// What EnqueueAllAgentTasks enqueues, in this order.
inline constexpr std::array<std::string_view, 8> CEnqueueAllAgentTaskIds = {
    CComputerScannerId, CSoftwareScannerId,       CWindowsUpdatesScannerId, CSecurityScannerId,
    CRulesId,           CClientCommandsScannerId, CLastUserScannerId,       CFileScannerId};

// The display name of the task, "" for an id that is not in the table.
std::string GetAgentTaskName(std::string_view AId);

// A new action of the class a new job of the task gets (TFileScannerJobAction for the file
// scanner; TScannerJobAction for an id that is not in the table), every member at its default.
// AgentTaskId stays empty: the caller decides whether the action names the task.
std::shared_ptr<TScannerJobAction> CreateDefaultAgentTaskAction(std::string_view AId);

}  // namespace Orvane
