#pragma once

#include <cstdint>

#include "OrvaneCore/Conditions/StartCondition.h"

namespace Orvane {

// Puts the due jobs of the job list into the job queue, one pass per call.
struct IJobScheduler {
  static constexpr const char* IID = "{AB1F7AB5-B777-413F-A638-E2DC45C1F888}";
  static constexpr const char* Name = "IJobScheduler";
  virtual ~IJobScheduler() = default;

  // One scheduling pass over the jobs whose start conditions AAllowedConditions admits; the number
  // of jobs the queue took.
  virtual int32_t UpdateQueue(TConditions AAllowedConditions) = 0;
};

}  // namespace Orvane
