#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

template <class T = void>
class TClientJobListProvider;

class TScannerJobAction;

// A job list provider whose jobs come from the management server: one request per load names the
// client and the manual jobs it holds; the answer brings the client's jobs and the identifiers of
// the manual jobs the server still knows. The server's manual jobs join the provider's manual
// list, the others go back to the caller as automatic jobs, and local manual jobs the server no
// longer knows are dropped.
//
// Bad answers lose nothing that is good: a job without an identifier or without an action is
// logged and left out, and a manual job whose identifier the provider already holds (letter case
// aside) is not added a second time, so a load retried after a failure does not double it.
//
// Threading: the load runs under the provider's lock (from FetchJobList), the server request
// included, so other calls on providers of the same action class wait for the server's answer.
template <>
class TClientJobListProvider<TScannerJobAction> : public TCustomJobListProvider<TScannerJobAction> {
public:
  TClientJobListProvider(
      std::shared_ptr<IServerRequestSender> ARequestSender,
      std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>> AConditionStorageManager,
      std::shared_ptr<IManualJobSaverJobList<TScannerJobAction>> AManualJobSaver,
      std::shared_ptr<IManualJobLoaderJobList<TScannerJobAction>> AManualJobLoader, TClientId AClientId);

  std::string ClassName() const override { return "TClientJobListProvider<TScannerJobAction>"; }

  const TClientId& GetClientId() const { return FClientId; }

  // Asks the server for the jobs of AClientId of the kinds AJobKinds. Manual jobs of the answer
  // become manual jobs of the provider (due at once when their start condition is disabled) and
  // are counted into AManualJobCount, which is only added to; the automatic jobs are returned as
  // new jobs. A failed request returns an empty list, changes nothing and sets *AAnswered false.
  TJobList LoadJobsFromServer(const std::string& AClientId, TTessraItemKinds AJobKinds, int32_t& AManualJobCount,
                              bool* AAnswered = nullptr) REQUIRES(FSynchronizer);

protected:
  // Whether a manual job the server no longer knows may be dropped.
  virtual bool CanAbortManualJob(const TJobPtr& AJob);
  // Drops every manual job whose identifier is not in AExistingIds (compared without regard to
  // letter case) and that CanAbortManualJob allows. Nothing is saved or raised here; the next save
  // of the manual jobs writes the change.
  virtual void AbortRemovedManualJobs(const std::vector<std::string>& AExistingIds) REQUIRES(FSynchronizer);

  const TClientId FClientId;

private:
  // False, with the reason logged, for a job of the answer that cannot be taken.
  static bool IsUsableServerJob(const TJob& AJob);
  bool HoldsManualJob(const TJob& AJob) const REQUIRES(FSynchronizer);
};

}  // namespace Orvane
