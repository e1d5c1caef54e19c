#pragma once

#include <functional>
#include <memory>
#include <string>

namespace Orvane {

class TScannerJobAction;

// Polled by long work: false asks it to stop early.
using TContinueCheck = std::function<bool()>;

// A unit of work of the agent with a fixed id, run as the action of a job.
struct IAgentTask {
  static constexpr const char* IID = "{720E182A-9095-42ED-A46D-AEE99F3B7ADD}";
  static constexpr const char* Name = "IAgentTask";
  virtual ~IAgentTask() = default;

  // Runs the task for this client with this action; true when it succeeded.
  virtual bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                       const TContinueCheck& ACanContinueProcessing) = 0;
  virtual std::string GetAgentTaskId() = 0;
  // Runs the collection step only and leaves its result in ATargetDir.
  virtual bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                        const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) = 0;
};

}  // namespace Orvane
