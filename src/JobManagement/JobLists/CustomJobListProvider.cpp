#include "JobManagement/JobLists/CustomJobListProvider.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/TessraDataUtils.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

bool IsQueuedOrRunning(const TJob& AJob) {
  const uint8_t LState = AJob.GetExecState();
  return LState == TJobExecState::Running || LState == TJobExecState::Queued;
}

// Takes the definition of ASource into ATarget; the computed due time and the execution state are
// the target's own and stay.
void AssignKeepingState(TJob& ATarget, const TJob& ASource) {
  const TDateTime LNextExecution = ATarget.GetNextExecution();
  const uint8_t LExecState = ATarget.GetExecState();
  ATarget.Assign(ASource);
  ATarget.SetNextExecution(LNextExecution);
  ATarget.SetExecState(LExecState);
}

TJobPtr CloneOfJob(const TJob& AJob) {
  TJobPtr LCopy = CloneAs(AJob);
  if (!LCopy) throw EInvalidOperation("The copy of job \"" + AJob.GetIdentifier() + "\" is not a TJob");
  return LCopy;
}

TJobList ClonesOf(const TJobList& AJobs) {
  TJobList LResult;
  LResult.reserve(AJobs.size());
  for (const TJobPtr& LJob : AJobs) LResult.push_back(CloneOfJob(*LJob));
  return LResult;
}

}  // namespace

TCustomJobListProvider<>::TCustomJobListProvider(
    std::shared_ptr<IServerRequestSender> ARequestSender, TSystemRunInfoPtr ASystemRunInfo,
    std::shared_ptr<IStartConditionStorageManager<>> AConditionStorageManager,
    std::shared_ptr<IItemSaver<TJob>> AManualJobSaver, std::shared_ptr<IListProvider<TJob>> AManualJobLoader,
    const std::string& AJobServiceName)
    : FRequestSender(std::move(ARequestSender)),
      FStartConditionStorageManager(std::move(AConditionStorageManager)),
      FManualJobListSaver(std::move(AManualJobSaver)),
      FManualJobListLoader(std::move(AManualJobLoader)),
      FSynchronizer(AJobServiceName),
      FSystemRunInfo(std::move(ASystemRunInfo)) {}

TCustomJobListProvider<>::TCustomJobListProvider(
    std::shared_ptr<IServerRequestSender> ARequestSender,
    std::shared_ptr<IStartConditionStorageManager<>> AConditionStorageManager,
    std::shared_ptr<IItemSaver<TJob>> AManualJobSaver, std::shared_ptr<IListProvider<TJob>> AManualJobLoader,
    const std::string& AJobServiceName)
    : TCustomJobListProvider(std::move(ARequestSender), nullptr, std::move(AConditionStorageManager),
                             std::move(AManualJobSaver), std::move(AManualJobLoader), AJobServiceName) {}

TCustomJobListProvider<>::~TCustomJobListProvider() {
  try {
    SaveConditionStorages();
  } catch (...) {
    LogCurrentException(MakeContext(*this, "Destroy"));
  }
}

TSystemRunInfoPtr TCustomJobListProvider<>::GetSystemRunInfo() {
  TMutexLock LLock(FRunInfoLock);
  return FSystemRunInfo;
}

void TCustomJobListProvider<>::SetSystemRunInfo(const TSystemRunInfoPtr& AValue) {
  {
    TMutexLock LLock(FRunInfoLock);
    if (FSystemRunInfo == AValue) return;
    FSystemRunInfo = AValue;
  }
  // The lists are walked under the provider's lock; a cleanup job is also an automatic job and
  // simply gets the value twice.
  TNamedMutexLock LLock(FSynchronizer);
  for (const TJobList* LList : {&FAutoJobs, &FManualJobs, &FCleanupList}) {
    for (const TJobPtr& LJob : *LList) LJob->SetSystemRunInfo(AValue);
  }
}

bool TCustomJobListProvider<>::AcceptsAutoJob(const TJobPtr& AJob) {
  return AJob->GetStartCondition()->GetEnabled();
}

bool TCustomJobListProvider<>::IsRegularJob(const std::string&) {
  return true;
}

bool TCustomJobListProvider<>::IsUpdateRequired() {
  return FLoadListFromServerOnNextFetch.load();
}

void TCustomJobListProvider<>::LoadConditionStorages() {
  if (!FStartConditionStorageManager) return;
  TNamedMutexLock LLock(FSynchronizer);
  FStartConditionStorageManager->LoadConditionStorages();
}

bool TCustomJobListProvider<>::LoadJobs(TJobList&, int32_t& AManualJobCount) {
  AManualJobCount = static_cast<int32_t>(FManualJobs.size());
  return false;
}

void TCustomJobListProvider<>::InitJob(const TJobPtr& AJob) {
  // TJob hands the run information on to each of its start conditions.
  AJob->SetSystemRunInfo(GetSystemRunInfo());
  AJob->Init();
}

int32_t TCustomJobListProvider<>::AddManualJob(const TJobPtr& AJob) {
  if (!AJob) throw EInvalidPointer("TCustomJobListProvider.AddManualJob: the job is nil");
  AJob->SetIsManual(true);
  AJob->SetIsRegularJob(IsRegularJob(AJob->GetIdentifier()));
  InitJob(AJob);

  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->MessageObject("New manual job: \"%s\"", {AJob->GetDisplayText()}, AJob.get());
  LLogger->BooleanValue("Start condition enabled", AJob->GetStartCondition()->GetEnabled());
  if (const std::shared_ptr<TJobAction> LAction = AJob->GetJobAction())
    LLogger->MessageObject("Job action [%s]", {LAction->ClassName()}, LAction.get());

  // Held from before the save to after the event: nobody fetches the job before it is on disk, and
  // a job that could not be saved is never seen.
  TNamedMutexLock LLock(FSynchronizer);
  // The save rewrites the file the stored jobs are still in when no fetch has taken them yet.
  if (!FStoredManualJobsTaken) LoadQueuedManualJobs();
  FManualJobs.push_back(AJob);
  int32_t LResult;
  try {
    LResult = SaveQueuedManualJobs();
  } catch (...) {
    ForgetManualJob(AJob);
    throw;
  }
  if (LResult != 0) {
    // Whoever asked is told it failed and may ask again: a second copy would then run twice.
    ForgetManualJob(AJob);
    LLogger->Error("Manual job not added, it could not be saved: \"%s\"", {AJob->GetDisplayText()});
    return LResult;
  }
  FOnManualJobsChanged.Invoke(AJob);
  return 0;
}

void TCustomJobListProvider<>::ForgetManualJob(const TJobPtr& AJob) {
  const auto LFound = std::find(FManualJobs.rbegin(), FManualJobs.rend(), AJob);
  if (LFound != FManualJobs.rend()) FManualJobs.erase(std::next(LFound).base());
}

void TCustomJobListProvider<>::RemoveManualJob(const TJobPtr& AJob) {
  if (!AJob) throw EInvalidPointer("TCustomJobListProvider.RemoveManualJob: the job is nil");
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("RemoveManualJob", this);
  {
    TNamedMutexLock LLock(FSynchronizer);
    LLogger->MessageObject("Manual job to remove", AJob.get());
    LLogger->IntegerValue("Manual job count before", static_cast<int64_t>(FManualJobs.size()));
    FOnBeforeManualJobRemoved.Invoke(AJob);
    // The very object first: a job given back by the dispatcher may share its identifier with one
    // that waits behind it.
    auto LFound = std::find(FManualJobs.begin(), FManualJobs.end(), AJob);
    if (LFound == FManualJobs.end())
      LFound = std::find_if(FManualJobs.begin(), FManualJobs.end(),
                            [&](const TJobPtr& AOther) { return AOther->Equals(*AJob); });
    if (LFound != FManualJobs.end()) FManualJobs.erase(LFound);
    LLogger->IntegerValue("Manual job count after", static_cast<int64_t>(FManualJobs.size()));
  }
  SaveConditionStorages();
  SaveQueuedManualJobs();
  LLogger->TraceExit("RemoveManualJob", this);
}

TJobList TCustomJobListProvider<>::FetchJobList() {
  TJobList LResult;
  {
    TNamedMutexLock LLock(FSynchronizer);
    // Each step on its own: a failed update or clean-up does not keep the jobs the provider holds
    // from running; a failed reload stays pending and is tried again at the next fetch.
    try {
      UpdateJobList();
    } catch (...) {
      LogCurrentException(MakeContext(*this, "FetchJobList"));
    }
    try {
      ApplyPendingUpdates();
    } catch (...) {
      LogCurrentException(MakeContext(*this, "FetchJobList"));
    }
    try {
      CleanJobList();
    } catch (...) {
      LogCurrentException(MakeContext(*this, "FetchJobList"));
    }
    try {
      LResult = AssembleJobList();
    } catch (...) {
      LogCurrentException(MakeContext(*this, "FetchJobList"));
    }
  }
  OrvaneLogger()->IntegerValue("Fetched jobs", static_cast<int64_t>(LResult.size()));
  return LResult;
}

void TCustomJobListProvider<>::UpdateJobList() {
  if (!IsUpdateRequired()) return;
  // Cleared before the load, so that a reload asked for while the source is read is not lost;
  // set again when the load does not complete.
  FLoadListFromServerOnNextFetch.store(false);
  bool LCompleted = false;
  try {
    TJobList LLoaded;
    int32_t LManualJobCount = 0;
    LoadQueuedManualJobs();
    if (LoadJobs(LLoaded, LManualJobCount)) {
      std::erase(LLoaded, nullptr);
      // A load that brought manual jobs only leaves the automatic jobs as they are; manual jobs
      // never become automatic ones.
      if (LLoaded.empty() || IsAutoJobInList(LLoaded)) {
        std::erase_if(LLoaded, [](const TJobPtr& AJob) { return AJob->GetIsManual(); });
        UpdateAutoJobs(LLoaded);
      }
      LoadConditionStorages();
      LCompleted = true;
    }
  } catch (...) {
    FLoadListFromServerOnNextFetch.store(true);
    throw;
  }
  if (!LCompleted) FLoadListFromServerOnNextFetch.store(true);
}

void TCustomJobListProvider<>::UpdateAutoJobs(const TJobList& ASource) {
  // Both indexes first: a list with two jobs of one key raises here, before anything changes.
  const TJobIndex LSourceIndex = TTessraDataUtils::CreateJobIndex(ASource);
  const TJobIndex LTargetIndex = TTessraDataUtils::CreateJobIndex(FAutoJobs);

  RemoveFromCleanupList(ASource);

  for (std::size_t LIndex = FAutoJobs.size(); LIndex-- > 0;) {
    const TJobPtr LJob = FAutoJobs[LIndex];
    const std::string LKey = TTessraDataUtils::JobKey(*LJob);
    if (LSourceIndex.contains(LKey)) continue;
    if (IsQueuedOrRunning(*LJob)) {
      // Still in use: handed out no more, dropped by the first fetch that finds it idle.
      AddToCleanupList(LJob);
      FPendingUpdates.erase(LKey);
    } else {
      DropAutoJob(LIndex);
    }
  }

  const std::shared_ptr<IStartConditionStorageManager<>>& LManager = FStartConditionStorageManager;
  for (const TJobPtr& LSource : ASource) {
    if (!AcceptsAutoJob(LSource)) continue;
    const std::string LKey = TTessraDataUtils::JobKey(*LSource);
    const auto LFound = LTargetIndex.find(LKey);
    InitJob(LSource);
    if (LFound == LTargetIndex.end()) {
      const auto LNew = std::make_shared<TJob>();
      AssignKeepingState(*LNew, *LSource);
      FAutoJobs.push_back(LNew);
      if (LManager) LManager->RegisterJob(LNew);
    } else if (IsQueuedOrRunning(*LFound->second)) {
      // Another thread works with this job now; the newest definition waits for it to be idle.
      FPendingUpdates[LKey] = LSource;
    } else {
      AssignKeepingState(*LFound->second, *LSource);
      FPendingUpdates.erase(LKey);
    }
  }
}

void TCustomJobListProvider<>::RemoveFromCleanupList(const TJobList& ASource) {
  // Keys are unique in FAutoJobs, so one source job equals at most one waiting job.
  for (const TJobPtr& LSource : ASource) {
    const auto LFound = std::find_if(FCleanupList.begin(), FCleanupList.end(),
                                     [&](const TJobPtr& AWaiting) { return AWaiting->Equals(*LSource); });
    if (LFound != FCleanupList.end()) FCleanupList.erase(LFound);
  }
}

void TCustomJobListProvider<>::ApplyPendingUpdates() {
  for (auto LPending = FPendingUpdates.begin(); LPending != FPendingUpdates.end();) {
    const auto LJob = std::find_if(FAutoJobs.begin(), FAutoJobs.end(), [&](const TJobPtr& AJob) {
      return TTessraDataUtils::JobKey(*AJob) == LPending->first;
    });
    if (LJob != FAutoJobs.end() && IsQueuedOrRunning(**LJob)) {
      ++LPending;
      continue;
    }
    // Out of the map first, so that an update that cannot be assigned is not tried forever.
    const TJobPtr LUpdate = LPending->second;
    LPending = FPendingUpdates.erase(LPending);
    if (LJob != FAutoJobs.end()) {
      // Prepared again: the run information may have changed while the update waited.
      InitJob(LUpdate);
      AssignKeepingState(**LJob, *LUpdate);
    }
  }
}

void TCustomJobListProvider<>::CleanJobList() {
  for (std::size_t LEntry = FCleanupList.size(); LEntry-- > 0;) {
    const TJobPtr LWaiting = FCleanupList[LEntry];
    const auto LFound = std::find(FAutoJobs.begin(), FAutoJobs.end(), LWaiting);
    if (LFound == FAutoJobs.end()) {
      FCleanupList.erase(FCleanupList.begin() + static_cast<std::ptrdiff_t>(LEntry));
    } else if (!IsQueuedOrRunning(*LWaiting)) {
      DropAutoJob(static_cast<std::size_t>(LFound - FAutoJobs.begin()));
    }
  }
}

void TCustomJobListProvider<>::DropAutoJob(std::size_t AIndex) {
  const TJobPtr LJob = FAutoJobs[AIndex];
  if (FStartConditionStorageManager) FStartConditionStorageManager->UnRegisterJob(LJob);
  FPendingUpdates.erase(TTessraDataUtils::JobKey(*LJob));
  RemoveFromCleanupListByIdentity(LJob.get());
  FAutoJobs.erase(FAutoJobs.begin() + static_cast<std::ptrdiff_t>(AIndex));
}

void TCustomJobListProvider<>::AddToCleanupList(const TJobPtr& AJob) {
  if (std::find(FCleanupList.begin(), FCleanupList.end(), AJob) == FCleanupList.end())
    FCleanupList.push_back(AJob);
}

void TCustomJobListProvider<>::RemoveFromCleanupListByIdentity(const TJob* AJob) {
  std::erase_if(FCleanupList, [&](const TJobPtr& AWaiting) { return AWaiting.get() == AJob; });
}

TJobList TCustomJobListProvider<>::AssembleJobList() {
  const auto LByOrder = [](const TJobPtr& ALeft, const TJobPtr& ARight) {
    return ALeft->GetOrder() < ARight->GetOrder();
  };
  // Sorted already at nearly every fetch; a stable sort of thousands of jobs is most of a turn.
  if (!std::is_sorted(FAutoJobs.begin(), FAutoJobs.end(), LByOrder))
    std::stable_sort(FAutoJobs.begin(), FAutoJobs.end(), LByOrder);
  std::unordered_set<const TJob*> LWaiting;
  for (const TJobPtr& LJob : FCleanupList) LWaiting.insert(LJob.get());

  TJobList LResult;
  LResult.reserve(FManualJobs.size() + FAutoJobs.size());
  LResult.insert(LResult.end(), FManualJobs.begin(), FManualJobs.end());
  for (const TJobPtr& LJob : FAutoJobs) {
    if (!LWaiting.contains(LJob.get())) LResult.push_back(LJob);
  }
  return LResult;
}

int32_t TCustomJobListProvider<>::SaveQueuedManualJobs() {
  if (!FManualJobListSaver) return 0;
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("SaveQueuedManualJobs", this);
  int32_t LResult;
  {
    TNamedMutexLock LLock(FSynchronizer);
    // A save before the first fetch (a stop during the start delay) would drop the stored jobs.
    if (!FStoredManualJobsTaken) LoadQueuedManualJobs();
    LResult = FManualJobListSaver->SaveItems(IEnumerable<TJobPtr>::FromVector(FManualJobs));
  }
  LLogger->TraceExit("SaveQueuedManualJobs", this);
  return LResult;
}

void TCustomJobListProvider<>::LoadQueuedManualJobs() {
  if (!FManualJobListLoader) return;
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("LoadQueuedManualJobs", this);
  {
    TNamedMutexLock LLock(FSynchronizer);
    FManualJobListLoader->LoadData();
    TJobList& LLoaded = FManualJobListLoader->GetItemList();
    std::erase(LLoaded, nullptr);
    // A loader that hands out again what the provider holds (one that rereads its file) doubles nothing.
    std::erase_if(LLoaded, [this](const TJobPtr& ALoaded) {
      FSynchronizer.AssertHeld();
      return std::any_of(FManualJobs.begin(), FManualJobs.end(),
                         [&](const TJobPtr& AHeld) { return AHeld->Equals(*ALoaded); });
    });
    for (const TJobPtr& LJob : LLoaded) InitJob(LJob);
    // The jobs move: the loader's list stays empty, so a later load hands out only new ones.
    FManualJobs.insert(FManualJobs.end(), LLoaded.begin(), LLoaded.end());
    LLoaded.clear();
    FStoredManualJobsTaken = true;
  }
  LLogger->TraceExit("LoadQueuedManualJobs", this);
}

void TCustomJobListProvider<>::SaveConditionStorages() {
  if (!FStartConditionStorageManager) return;
  TNamedMutexLock LLock(FSynchronizer);
  FStartConditionStorageManager->SaveConditionStorages();
}

TJobListSnapshot TCustomJobListProvider<>::CreateSnapshot() {
  TNamedMutexLock LLock(FSynchronizer);
  TJobListSnapshot LSnapshot;
  LSnapshot.ManualJobs = ClonesOf(FManualJobs);
  LSnapshot.AutoJobs = ClonesOf(FAutoJobs);
  LSnapshot.CleanupList = ClonesOf(FCleanupList);
  return LSnapshot;
}

bool TCustomJobListProvider<>::TryFindJobByContentId(const std::string& AContentId, const TJobList& AList,
                                                     TJobPtr& AJob) {
  const auto LFound = std::find_if(AList.begin(), AList.end(), [&](const TJobPtr& ACandidate) {
    return ACandidate && ACandidate->GetContentId() == AContentId;
  });
  AJob = LFound != AList.end() ? *LFound : nullptr;
  return AJob != nullptr;
}

bool TCustomJobListProvider<>::IsAutoJobInList(const TJobList& AList) {
  return std::any_of(AList.begin(), AList.end(),
                     [](const TJobPtr& AJob) { return AJob && !AJob->GetIsManual(); });
}

TCustomJobListProvider<TScannerJobAction>::TCustomJobListProvider(
    std::shared_ptr<IServerRequestSender> ARequestSender,
    std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>> AConditionStorageManager,
    std::shared_ptr<IManualJobSaverJobList<TScannerJobAction>> AManualJobSaver,
    std::shared_ptr<IManualJobLoaderJobList<TScannerJobAction>> AManualJobLoader)
    : TCustomJobListProvider<>(std::move(ARequestSender), std::move(AConditionStorageManager),
                               std::move(AManualJobSaver), std::move(AManualJobLoader),
                               TScannerJobAction().ClassName()) {}

}  // namespace Orvane
