#pragma once

#include <string>
#include <vector>

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane::Testing {

// The identifiers of a list of jobs, in order: what most list assertions compare.
inline std::vector<std::string> Identifiers(const TJobList& AJobs) {
  std::vector<std::string> LResult;
  for (const TJobPtr& LJob : AJobs) LResult.push_back(LJob->GetIdentifier());
  return LResult;
}

}  // namespace Orvane::Testing
