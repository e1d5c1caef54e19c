#pragma once

#include <memory>

#include "OrvaneCore/Data/ClassRegistry.h"
#include "OrvaneCore/Interfaces/JobProcessor.Intf.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// Decides whether a job may start now and hands out its processor; tracks running jobs.
template <class T = void>
struct IJobProcessorPool;

template <>
struct IJobProcessorPool<void> {
  static constexpr const char* IID = "{5CEB82E0-D8A2-4B2C-9DD4-815299D48E4B}";
  static constexpr const char* Name = "IJobProcessorPool";
  virtual ~IJobProcessorPool() = default;

  virtual TJobEvent& GetOnJobAborted() = 0;
  virtual TJobEvent& GetOnJobDone() = 0;
  virtual TJobEvent& GetOnAfterRequestProcessor() = 0;
  virtual TClassName GetJobActionClass() = 0;
  // False while the service waits for running jobs to end: long work may stop early.
  virtual bool CanContinueWork() = 0;
  // A processor for the job, or nullptr; the pool keeps owning it.
  virtual IJobProcessor<>* RequestProcessor(const TJobPtr& AJob) = 0;
  virtual void ReleaseProcessor(IJobProcessor<>* AProcessor, bool ANotifyJobFinished) = 0;
  virtual void WaitForJobs(int32_t ATimeoutSeconds) = 0;
  virtual void AllowJobExecutionForShutdown() = 0;
  // Whether a job runs, read under the pool's lock: a release in progress, with its job-done
  // handlers, is seen whole.
  virtual bool HasRunningJobs() = 0;
};

template <>
struct IJobProcessorPool<TScannerJobAction> : virtual IJobProcessorPool<> {
  static constexpr const char* IID = "{E8820BB3-175D-436F-A4CA-7C9858D841AB}";
  static constexpr const char* Name = "IJobProcessorPool<TScannerJobAction>";
};

}  // namespace Orvane
