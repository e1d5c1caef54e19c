#pragma once

#include <cstdint>
#include <string>

#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"

namespace Orvane {

// The host's way to ask for agent tasks: as manual jobs now or after a delay, all scanners at once,
// or one task run at once on the calling thread. The enqueues answer as AddManualJob does: 0 when
// the job is saved, else the failure code of the save, and the job is not kept.
struct IAgentTaskQueue : virtual IJobListProvider<> {
  static constexpr const char* IID = "{0C9F5160-06D2-44F8-80BE-D4BE7FB1B91E}";
  static constexpr const char* Name = "IAgentTaskQueue";

  virtual int32_t EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow) = 0;
  virtual int32_t EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow,
                                   int32_t AStartDelayInMinutes) = 0;
  // Every scanner, each on its own; the first failure code when any of them was not saved.
  virtual int32_t EnqueueAllAgentTasks(TDateTime ANow) = 0;
  virtual void RunAndWaitForAgentTask(const std::string& AScannerId) = 0;
};

}  // namespace Orvane
