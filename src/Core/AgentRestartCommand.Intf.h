#pragma once

namespace Orvane {

// The host's agent restart. It records the request and returns at once; the host stops the
// service and starts the agent again.
struct ITessraAgentRestartCommand {
  static constexpr const char* IID = "{A002FF65-431C-4912-A82B-F9D2F4B9F725}";
  static constexpr const char* Name = "ITessraAgentRestartCommand";
  virtual ~ITessraAgentRestartCommand() = default;
  virtual void RestartAgent() = 0;
};

}  // namespace Orvane
