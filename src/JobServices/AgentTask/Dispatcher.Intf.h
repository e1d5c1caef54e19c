#pragma once

#include <memory>
#include <string>

#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// Finds the agent task for an id among all registered tasks and runs it.
struct IAgentTaskDispatcher {
  static constexpr const char* IID = "{E8A07EA9-170C-4AC3-A506-015C30FCAFC2}";
  static constexpr const char* Name = "IAgentTaskDispatcher";
  virtual ~IAgentTaskDispatcher() = default;

  // Runs the task named by the job's action; false when the task failed or none has that id.
  virtual bool StartScanner(const TJobPtr& AJob, const TContinueCheck& ACanContinueWork) = 0;
  virtual bool StartScanner(const std::shared_ptr<TScannerJobAction>& AJobAction,
                            const TContinueCheck& ACanContinueWork) = 0;
  virtual bool ScanOnly(const std::string& AAgentTaskId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                        const std::string& ATargetDir) = 0;
};

}  // namespace Orvane
