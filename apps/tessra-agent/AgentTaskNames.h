#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Orvane {

// The agent task a user means by ANameOrId: its display name ("software scanner"), letter case
// aside, or its id, with or without braces and in any letter case. Gives the id as the task table
// writes it, or nothing when no task has that name or id.
std::optional<std::string> FindAgentTaskId(std::string_view ANameOrId);

}  // namespace Orvane
