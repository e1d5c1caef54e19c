#pragma once

#include <string>

#include "Control/ControlProtocol.h"

namespace Orvane {

// "tessra-agent ctl COMMAND": sends one request to the agent running on the data directory and
// prints its answer. Exit 0 when the agent did what was asked, 1 when it answered with a failure
// or no agent runs there, 2 when the data directory cannot be used.
int ControlCommand(const std::string& ADataDirOption, const TControlRequest& ARequest, int ATimeoutMs);

}  // namespace Orvane
