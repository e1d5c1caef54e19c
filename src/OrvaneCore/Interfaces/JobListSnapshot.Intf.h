#pragma once

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// Copies of a job list provider's three lists at one moment, for display. The jobs are clones: the
// caller owns them, and nothing it does with them reaches the provider.
struct TJobListSnapshot {
  TJobList ManualJobs;   // in the order they were added or loaded
  TJobList AutoJobs;     // in the order of the last fetch (by Order once a fetch has run)
  TJobList CleanupList;  // automatic jobs that left the source and wait to be dropped
};

// A job list that can be looked at without changing it: no reload from the server, no clean-up,
// no events. What the host shows an administrator who asks what the agent holds.
struct IJobListSnapshotSource {
  static constexpr const char* IID = "{4D8A5A29-2C6D-4ECD-A81B-E577B6910E89}";
  static constexpr const char* Name = "IJobListSnapshotSource";
  virtual ~IJobListSnapshotSource() = default;

  virtual TJobListSnapshot CreateSnapshot() = 0;
};

}  // namespace Orvane
