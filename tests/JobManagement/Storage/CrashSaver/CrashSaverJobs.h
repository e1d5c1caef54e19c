#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane::Testing {

// The job list that the crash saver writes as generation AGeneration. Generations differ in length
// (1 to 9 jobs) and in size (display texts up to some kilobytes), so that a kill meets saves of
// every size; "g<generation>-<index>" names each job, so a loaded list tells which save it is.
inline TJobList CrashSaverJobs(int64_t AGeneration) {
  TJobList LJobs;
  const int LCount = 1 + static_cast<int>(AGeneration % 9);
  for (int LIndex = 0; LIndex < LCount; ++LIndex) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("g" + std::to_string(AGeneration) + "-" + std::to_string(LIndex));
    LJob->SetDisplayText(std::string(static_cast<std::size_t>((AGeneration * 7 + LIndex) % 5) * 800, 'x'));
    LJob->SetIsManual(true);
    LJob->SetOrder(LIndex);
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "{CRASH-" + std::to_string(LIndex) + "}";
    LJob->SetJobAction(LAction);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

}  // namespace Orvane::Testing
