#pragma once

#include <atomic>
#include <memory>

#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// The host's job list of plain TJobAction jobs (client commands). The client command scanner asks
// it to load from the server at its next fetch. This agent has no client-command service of its
// own, so the list holds the manual jobs added at run time, in memory, and nothing else.
class TAgentClientJobListProvider : public IJobListProvider<TJobAction> {
public:
  TAgentClientJobListProvider();

  TNotifyEvent& GetOnPullRequestReceived() override { return FOnPullRequestReceived; }
  TOnNewManualJobEvent& GetOnManualJobsChanged() override { return FOnManualJobsChanged; }
  bool GetLoadListFromServerOnNextFetch() override { return FLoadListFromServerOnNextFetch.load(); }
  void SetLoadListFromServerOnNextFetch(bool AValue) override;
  TSystemRunInfoPtr GetSystemRunInfo() override;
  void SetSystemRunInfo(const TSystemRunInfoPtr& AValue) override;
  // Kept in memory only: always 0.
  int32_t AddManualJob(const TJobPtr& AJob) override;
  void RemoveManualJob(const TJobPtr& AJob) override;
  TJobList FetchJobList() override;
  int32_t SaveQueuedManualJobs() override { return 0; }
  void LoadQueuedManualJobs() override {}
  void SaveConditionStorages() override {}

private:
  TNotifyEvent FOnPullRequestReceived;
  TOnNewManualJobEvent FOnManualJobsChanged;
  std::atomic<bool> FLoadListFromServerOnNextFetch{false};
  TMutex FLock;
  TSystemRunInfoPtr FSystemRunInfo GUARDED_BY(FLock);
  TJobList FManualJobs GUARDED_BY(FLock);
};

}  // namespace Orvane
