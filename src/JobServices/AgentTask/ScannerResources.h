#pragma once

#include <array>
#include <string_view>

#include "OrvaneClientShared/AgentTaskTable.h"

namespace Orvane {

// Control tasks rather than scans: their manual jobs are not regular jobs.
inline constexpr std::array<std::string_view, 2> CNonRegularAgentTaskIds = {CRestartAgentId,
                                                                            CSettingsWatchId};

// A content id the server may list that never becomes an automatic agent-task job.
inline constexpr std::string_view CExcludedAgentTaskContentId = "{50016F8B-504D-4D1D-ACE0-A94F6EAC704F}";

}  // namespace Orvane
