#pragma once

#include <functional>
#include <memory>

#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Interfaces/JobStateNotifier.Intf.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "OrvaneCore/Threading/OrvaneThread.h"

namespace Orvane {

// A job service: turn by turn it schedules due jobs, dispatches them and waits.
struct IJobService {
  static constexpr const char* IID = "{45808A9C-7B9E-4E21-BF2C-8D3AD10F2136}";
  static constexpr const char* Name = "IJobService";
  virtual ~IJobService() = default;

  using TJobCountNotification = std::function<void(int32_t)>;
  using TIdleProc = std::function<void(TOrvaneObject*)>;

  virtual TSystemRunInfoPtr GetSystemRunInfo() = 0;
  virtual void SetSystemRunInfo(const TSystemRunInfoPtr& AValue) = 0;
  virtual int32_t GetStartDelayInSeconds() = 0;
  virtual void SetStartDelayInSeconds(int32_t AValue) = 0;
  virtual TJobEvent& GetOnAfterRequestProcessor() = 0;
  virtual std::shared_ptr<IJobStateNotifier> GetJobStateNotifier() = 0;
  virtual void SetJobStateNotifier(const std::shared_ptr<IJobStateNotifier>& AValue) = 0;
  virtual TJobList FetchJobList() = 0;
  // Schedules once (restricted to AAllowedStartConditions) and returns when the jobs of that pass
  // have finished.
  virtual void RunAndWaitForJobs(const TJobCountNotification& AJobCountNotification, const TIdleProc& AIdleProc,
                                 bool AIgnoreTimings, TConditions AAllowedStartConditions) = 0;
  // Runs the main loop on the calling thread until it is stopped.
  virtual void Start() = 0;
  // Runs the main loop on a worker thread.
  virtual void StartAsync(TThreadPriority APriority) = 0;
  virtual void PrepareStop() = 0;
  virtual void Stop() = 0;
};

}  // namespace Orvane
