#pragma once

#include <memory>

#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

template <class T>
struct IJobProcessorPool;
struct IJobExecStateReporter;
class TScannerJobAction;

// Runs one job on a thread of its own. Processors belong to their pool, which holds the only strong
// reference; everybody else holds IJobProcessor*.
template <class T = void>
struct IJobProcessor;

template <>
struct IJobProcessor<void> {
  static constexpr const char* IID = "{33D16EF6-F027-4ABC-89C8-FA0F9FB9828B}";
  static constexpr const char* Name = "IJobProcessor";
  virtual ~IJobProcessor() = default;

  virtual TJobPtr GetJob() = 0;
  // Sets the job without starting anything.
  virtual void SetJob(const TJobPtr& AJob) = 0;
  virtual bool CanProcessJobAction(const TClassName& AJobActionClass) = 0;
  // Runs the work on the calling thread only: no reports, no release, no state change.
  virtual TJobResult ProcessAndWaitForJob() = 0;
  // Sets the job and starts the thread that runs it.
  virtual void ProcessJob(const TJobPtr& AJob) = 0;
  // The processor keeps its pool weakly: a pool that is gone is not released to.
  virtual void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<void>>& APool) = 0;
  virtual void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>& AReporter) = 0;
};

template <>
struct IJobProcessor<TScannerJobAction> : virtual IJobProcessor<> {
  static constexpr const char* IID = "{5E5BEAE9-989F-47F8-8E7F-5668D5546633}";
  static constexpr const char* Name = "IJobProcessor<TScannerJobAction>";
};

}  // namespace Orvane
