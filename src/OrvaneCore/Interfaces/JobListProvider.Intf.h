#pragma once

#include <cstdint>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"

namespace Orvane {

class TScannerJobAction;
class TJobAction;

// Raised with a manual job that was added or is about to be removed.
using TOnNewManualJobEvent = TJobEvent;

// The source of every job a job service may run: automatic jobs (normally from the server), manual
// jobs and the jobs waiting to be cleaned up.
template <class T = void>
struct IJobListProvider;

template <>
struct IJobListProvider<void> {
  static constexpr const char* IID = "{2B49109F-F315-46B4-B35A-2EDE03EC9D85}";
  static constexpr const char* Name = "IJobListProvider";
  virtual ~IJobListProvider() = default;

  virtual TNotifyEvent& GetOnPullRequestReceived() = 0;
  virtual TOnNewManualJobEvent& GetOnManualJobsChanged() = 0;
  virtual bool GetLoadListFromServerOnNextFetch() = 0;
  virtual void SetLoadListFromServerOnNextFetch(bool AValue) = 0;
  virtual TSystemRunInfoPtr GetSystemRunInfo() = 0;
  virtual void SetSystemRunInfo(const TSystemRunInfoPtr& AValue) = 0;
  // 0 when the job is kept and saved; otherwise the saver's failure code, and the job is not kept.
  virtual int32_t AddManualJob(const TJobPtr& AJob) = 0;
  virtual void RemoveManualJob(const TJobPtr& AJob) = 0;
  // Manual jobs first, then the automatic jobs by order.
  virtual TJobList FetchJobList() = 0;
  // 0 when the manual jobs are saved (or there is nothing to save them to); else the saver's code.
  virtual int32_t SaveQueuedManualJobs() = 0;
  virtual void LoadQueuedManualJobs() = 0;
  virtual void SaveConditionStorages() = 0;
};

template <>
struct IJobListProvider<TScannerJobAction> : virtual IJobListProvider<> {
  static constexpr const char* IID = "{A0E2C952-DFCF-42DB-BA93-93CD2A2DC0EC}";
  static constexpr const char* Name = "IJobListProvider<TScannerJobAction>";
};

template <>
struct IJobListProvider<TJobAction> : virtual IJobListProvider<> {
  static constexpr const char* IID = "{1F4C5EC6-EA2F-423F-9BA7-1111B29DEE6D}";
  static constexpr const char* Name = "IJobListProvider<TJobAction>";
};

}  // namespace Orvane
