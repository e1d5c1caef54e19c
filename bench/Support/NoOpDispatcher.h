#pragma once
// The agent tasks of the engine benchmarks: each does nothing, so that what is measured is the engine.
#include <memory>
#include <string>

#include "JobServices/AgentTask/Dispatcher.Intf.h"

namespace Orvane::Bench {

class TNoOpDispatcher : public IAgentTaskDispatcher {
public:
  bool StartScanner(const TJobPtr&, const TContinueCheck&) override { return true; }
  bool StartScanner(const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&) override { return true; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const std::string&) override {
    return true;
  }
};

}  // namespace Orvane::Bench
