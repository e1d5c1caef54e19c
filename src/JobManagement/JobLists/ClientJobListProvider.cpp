#include "JobManagement/JobLists/ClientJobListProvider.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Data/TessraDataUtils.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TClientJobListProvider<TScannerJobAction>::TClientJobListProvider(
    std::shared_ptr<IServerRequestSender> ARequestSender,
    std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>> AConditionStorageManager,
    std::shared_ptr<IManualJobSaverJobList<TScannerJobAction>> AManualJobSaver,
    std::shared_ptr<IManualJobLoaderJobList<TScannerJobAction>> AManualJobLoader, TClientId AClientId)
    : TCustomJobListProvider<TScannerJobAction>(std::move(ARequestSender),
                                                std::move(AConditionStorageManager),
                                                std::move(AManualJobSaver), std::move(AManualJobLoader)),
      FClientId(std::move(AClientId)) {}

TJobList TClientJobListProvider<TScannerJobAction>::LoadJobsFromServer(const std::string& AClientId,
                                                                       TTessraItemKinds AJobKinds,
                                                                       int32_t& AManualJobCount,
                                                                       bool* AAnswered) {
  TJobList LResult;
  if (AAnswered) *AAnswered = false;
  if (!FRequestSender) return LResult;
  TCalcJobsForClientRequest LRequest;
  TCalcJobsForClientResponse LResponse;
  LRequest.SetClientId(AClientId);
  LRequest.SetTessraItemKinds(AJobKinds);
  TTessraDataUtils::AddIdentifiers(FManualJobs, LRequest.GetManualJobIds());

  if (FRequestSender->SendRequest(LRequest, LResponse) != 0) return LResult;
  if (AAnswered) *AAnswered = true;

  AbortRemovedManualJobs(LResponse.GetExistingManualJobIds());

  IOrvaneLogger* LLogger = OrvaneLogger();
  for (const TJobPtr& LServerJob : LResponse.GetJobList()) {
    if (!LServerJob || !IsUsableServerJob(*LServerJob)) continue;
    auto LJob = std::make_shared<TJob>();
    LJob->Assign(*LServerJob);
    if (!LJob->GetIsManual()) {
      LResult.push_back(std::move(LJob));
      continue;
    }
    if (HoldsManualJob(*LJob)) {
      // Added by an earlier load whose update did not complete; a second copy would run twice.
      LLogger->MessageObject("Manual job already held, not added again: %s", {LJob->GetDisplayText()},
                             LJob.get());
      continue;
    }
    if (!LJob->GetStartCondition()->GetEnabled()) LJob->SetNextExecution(Now());
    // One that cannot be saved is not kept; the server hands it out again at a later load.
    if (AddManualJob(LJob) == 0) ++AManualJobCount;
  }
  LLogger->IntegerValue("Amount of found manual jobs", AManualJobCount);
  return LResult;
}

bool TClientJobListProvider<TScannerJobAction>::CanAbortManualJob(const TJobPtr&) {
  return true;
}

void TClientJobListProvider<TScannerJobAction>::AbortRemovedManualJobs(
    const std::vector<std::string>& AExistingIds) {
  std::unordered_set<std::string> LExisting;
  for (const std::string& LId : AExistingIds) LExisting.insert(UpperCase(LId));
  IOrvaneLogger* LLogger = OrvaneLogger();
  for (std::size_t LIndex = FManualJobs.size(); LIndex-- > 0;) {
    const TJobPtr LJob = FManualJobs[LIndex];
    if (LExisting.contains(UpperCase(LJob->GetIdentifier())) || !CanAbortManualJob(LJob)) continue;
    LLogger->MessageObject("Aborted manual job: %s", {LJob->GetDisplayText()}, LJob.get());
    FManualJobs.erase(FManualJobs.begin() + static_cast<std::ptrdiff_t>(LIndex));
  }
}

bool TClientJobListProvider<TScannerJobAction>::IsUsableServerJob(const TJob& AJob) {
  if (AJob.GetIdentifier().empty()) {
    OrvaneLogger()->Error("Server job without an identifier ignored: \"%s\"", {AJob.GetDisplayText()});
    return false;
  }
  if (!AJob.GetJobAction()) {
    OrvaneLogger()->Error("Server job without a job action ignored: %s", {AJob.GetIdentifier()});
    return false;
  }
  return true;
}

bool TClientJobListProvider<TScannerJobAction>::HoldsManualJob(const TJob& AJob) const {
  return std::any_of(FManualJobs.begin(), FManualJobs.end(),
                     [&](const TJobPtr& AHeld) { return AHeld->Equals(AJob); });
}

}  // namespace Orvane
