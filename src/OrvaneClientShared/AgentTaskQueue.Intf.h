#pragma once

#include <string>

#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"

namespace Orvane {

// The host's way to ask for agent tasks: as manual jobs now or after a delay, all scanners at once,
// or one task run at once on the calling thread.
struct IAgentTaskQueue : virtual IJobListProvider<> {
  static constexpr const char* IID = "{0C9F5160-06D2-44F8-80BE-D4BE7FB1B91E}";
  static constexpr const char* Name = "IAgentTaskQueue";

  virtual void EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow) = 0;
  virtual void EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow, int32_t AStartDelayInMinutes) = 0;
  virtual void EnqueueAllAgentTasks(TDateTime ANow) = 0;
  virtual void RunAndWaitForAgentTask(const std::string& AScannerId) = 0;
};

}  // namespace Orvane
