#pragma once

#include <cstdint>

#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

// Empties the job queue into the processor pool.
struct IJobDispatcher {
  static constexpr const char* IID = "{0B2FBE22-EB39-4E9A-B99C-07FA46B997A5}";
  static constexpr const char* Name = "IJobDispatcher";
  virtual ~IJobDispatcher() = default;

  // Hands queued jobs to processors; the number handed out in this call.
  virtual int32_t ProcessQueue() = 0;
  // Raised with a job whose start condition no longer held right before its run.
  virtual TJobEvent& GetOnJobDropped() = 0;
};

}  // namespace Orvane
