#include "AgentTaskNames.h"

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Base/Strings.h"

namespace Orvane {

std::optional<std::string> FindAgentTaskId(std::string_view ANameOrId) {
  const std::string LWanted = UpperCase(Trim(std::string(ANameOrId)));
  if (LWanted.empty()) return std::nullopt;
  const std::string LBraced = LWanted.front() == '{' ? LWanted : "{" + LWanted + "}";
  for (const std::string_view LId : CAgentTaskIds) {
    if (LBraced == LId || LWanted == UpperCase(GetAgentTaskName(LId))) return std::string(LId);
  }
  return std::nullopt;
}

}  // namespace Orvane
