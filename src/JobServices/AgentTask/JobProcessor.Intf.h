#pragma once

#include "OrvaneCore/Interfaces/JobProcessor.Intf.h"

namespace Orvane {

// The processor of agent-task jobs, as the container makes it for the agent-task pool.
struct IAgentTaskJobProcessor : virtual IJobProcessor<TScannerJobAction> {
  static constexpr const char* IID = "{474B0390-3C49-4B84-BAB8-86CB5CC0B077}";
  static constexpr const char* Name = "IAgentTaskJobProcessor";
};

}  // namespace Orvane
