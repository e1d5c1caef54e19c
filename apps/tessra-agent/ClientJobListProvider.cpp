#include "ClientJobListProvider.h"

#include <algorithm>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TAgentClientJobListProvider::TAgentClientJobListProvider()
    : FOnPullRequestReceived("PullRequestReceived"), FOnManualJobsChanged("ManualJobsChanged") {}

void TAgentClientJobListProvider::SetLoadListFromServerOnNextFetch(bool AValue) {
  FLoadListFromServerOnNextFetch.store(AValue);
  if (AValue) FOnPullRequestReceived.Invoke(nullptr);
}

TSystemRunInfoPtr TAgentClientJobListProvider::GetSystemRunInfo() {
  TMutexLock LLock(FLock);
  return FSystemRunInfo;
}

void TAgentClientJobListProvider::SetSystemRunInfo(const TSystemRunInfoPtr& AValue) {
  TMutexLock LLock(FLock);
  FSystemRunInfo = AValue;
}

int32_t TAgentClientJobListProvider::AddManualJob(const TJobPtr& AJob) {
  if (!AJob) return 0;
  {
    TMutexLock LLock(FLock);
    AJob->SetIsManual(true);
    FManualJobs.push_back(AJob);
  }
  FOnManualJobsChanged.Invoke(AJob);
  return 0;
}

void TAgentClientJobListProvider::RemoveManualJob(const TJobPtr& AJob) {
  if (!AJob) return;
  FOnManualJobsChanged.Invoke(AJob);
  TMutexLock LLock(FLock);
  FManualJobs.erase(std::remove_if(FManualJobs.begin(), FManualJobs.end(),
                                   [&](const TJobPtr& LJob) { return LJob->Equals(*AJob); }),
                    FManualJobs.end());
}

TJobList TAgentClientJobListProvider::FetchJobList() {
  // There is no server list of client jobs here: a requested load ends at once, with nothing new.
  if (FLoadListFromServerOnNextFetch.exchange(false))
    OrvaneLogger()->Message("Client job list: no client jobs on this agent");
  TMutexLock LLock(FLock);
  return FManualJobs;
}

}  // namespace Orvane
