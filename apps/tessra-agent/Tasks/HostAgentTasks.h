#pragma once

#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "Tasks/ResultSink.h"

namespace Orvane {

// An agent task that the host itself implements, with the name it is registered under.
struct THostAgentTask {
  std::string RegistrationName;
  std::shared_ptr<IAgentTask> Task;
};

// The agent tasks this host implements on Linux, each leaving its results under ADataDir and, with
// ASink, handing each result to it as well. The module adds its own (the client command scanner, the
// settings watch, the restart).
std::vector<THostAgentTask> CreateHostAgentTasks(const std::string& ADataDir,
                                                 const std::shared_ptr<IResultSink>& ASink = nullptr);

}  // namespace Orvane
