#include "JobServices/AgentTask/JobListProvider.Client.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Data/TessraDataUtils.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

constexpr double CSettingsWatchRetrySeconds = 3600.0;

}  // namespace

TAgentTaskJobListProvider::TAgentTaskJobListProvider(
    std::shared_ptr<IServerRequestSender> ARequestSender,
    std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>> AConditionStorageManager,
    std::shared_ptr<IManualJobSaverJobList<TScannerJobAction>> AManualJobSaver,
    std::shared_ptr<IManualJobLoaderJobList<TScannerJobAction>> AManualJobLoader, TClientId AClientId,
    Lazy<IAgentTaskDispatcher> AAgentTaskDispatcher)
    : TClientJobListProvider<TScannerJobAction>(
          std::move(ARequestSender), std::move(AConditionStorageManager), std::move(AManualJobSaver),
          std::move(AManualJobLoader), std::move(AClientId)),
      FAgentTaskDispatcher(std::move(AAgentTaskDispatcher)) {}

bool TAgentTaskJobListProvider::IsRegularJob(const std::string& AIdentifier) {
  const std::string LKey = UpperCase(AIdentifier);
  return std::none_of(CNonRegularAgentTaskIds.begin(), CNonRegularAgentTaskIds.end(),
                      [&](std::string_view AId) { return LKey == UpperCase(AId); });
}

bool TAgentTaskJobListProvider::LoadJobs(TJobList& AJobs, int32_t& AManualJobCount) {
  IOrvaneLogger* LLogger = OrvaneLogger();
  LLogger->TraceEnter("LoadJobs", this);
  TClientJobListProvider<TScannerJobAction>::LoadJobs(AJobs, AManualJobCount);

  bool LAnswered = false;
  const TJobList LLoaded =
      LoadJobsFromServer(FClientId.Value, TTessraItemKinds::Of(CAgentTaskItemKind), AManualJobCount, &LAnswered);
  // One watch waiting is enough to ask again; every empty answer adding one would pile them up.
  if (LLoaded.empty() && !HoldsManualJobOf(CSettingsWatchId))
    EnqueueAgentTask(std::string(CSettingsWatchId), IncSeconds(Now(), CSettingsWatchRetrySeconds));
  // No answer is no list: the automatic jobs held stay, and the load stays pending for the next
  // fetch (the sender logs why, as often as it sees fit).
  const bool LResult = LAnswered;
  if (!LResult) {
    LLogger->BooleanValue("Result", LResult);
    LLogger->TraceExit("LoadJobs", this);
    return false;
  }

  const std::string LExcluded = UpperCase(CExcludedAgentTaskContentId);
  std::unordered_set<std::string> LTaken;
  for (const TJobPtr& LJob : LLoaded) {
    if (UpperCase(LJob->GetContentId()) == LExcluded) continue;
    // The first of two jobs with one identifier wins; two cannot be merged into one list.
    if (!LTaken.insert(TTessraDataUtils::JobKey(*LJob)).second) {
      LLogger->Warning("Server job listed twice, the later one ignored: %s", {LJob->GetIdentifier()});
      continue;
    }
    // The server's jobs come as copies of their own, which nothing else holds.
    AJobs.push_back(LJob);
  }
  LLogger->IntegerValue("Amount of found persistent jobs", static_cast<int64_t>(AJobs.size()));
  LLogger->BooleanValue("Result", LResult);
  LLogger->TraceExit("LoadJobs", this);
  return LResult;
}

TJobPtr TAgentTaskJobListProvider::CreateAgentTaskJob(const std::string& AScannerId,
                                                      TDateTime ANextExecution) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AScannerId);
  LJob->SetIsManual(true);
  LJob->SetNextExecution(ANextExecution);
  LJob->SetDisplayText(GetAgentTaskName(AScannerId));
  LJob->SetIsUserVisible(false);
  LJob->SetItemKind(CAgentTaskItemKind);
  const std::shared_ptr<TScannerJobAction> LAction = CreateAgentTaskAction(AScannerId);
  LAction->AgentTaskId = AScannerId;
  LAction->IsPredefined = false;
  LJob->SetJobAction(LAction);
  return LJob;
}

std::shared_ptr<TScannerJobAction> TAgentTaskJobListProvider::CreateAgentTaskAction(
    const std::string& AScannerId) {
  {
    TNamedMutexLock LLock(FSynchronizer);
    TJobPtr LJob;
    if (TryFindJobByContentId(AScannerId, FAutoJobs, LJob)) {
      // A server job always carries an action (jobs without one are not taken); its class is the
      // scanner action class or a descendant of it for agent-task jobs.
      if (const std::shared_ptr<TJobAction> LAction = LJob->GetJobAction())
        if (std::shared_ptr<TScannerJobAction> LClone =
                std::dynamic_pointer_cast<TScannerJobAction>(LAction->Clone()))
          return LClone;
      OrvaneLogger()->Warning("The job of agent task %s has no scanner action; a new one is used",
                              {AScannerId});
    }
  }
  return CreateDefaultAgentTaskAction(AScannerId);
}

bool TAgentTaskJobListProvider::HoldsManualJobOf(std::string_view AScannerId) const {
  const std::string LKey = UpperCase(AScannerId);
  return std::any_of(FManualJobs.begin(), FManualJobs.end(),
                     [&](const TJobPtr& AJob) { return UpperCase(AJob->GetIdentifier()) == LKey; });
}

int32_t TAgentTaskJobListProvider::EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow) {
  return AddManualJob(CreateAgentTaskJob(AScannerId, ANow));
}

int32_t TAgentTaskJobListProvider::EnqueueAgentTask(const std::string& AScannerId, TDateTime,
                                                    int32_t AStartDelayInMinutes) {
  const TJobPtr LJob = CreateAgentTaskJob(AScannerId, CNoDateTime);
  auto LDelay = std::make_shared<TStartConditionOnDelay>();
  LDelay->SetDelayValue(AStartDelayInMinutes);
  LDelay->SetValueUnit(TDelayUnit::duMinutes);
  LJob->GetStartCondition()->AddCondition(LDelay);
  return AddManualJob(LJob);
}

int32_t TAgentTaskJobListProvider::EnqueueAllAgentTasks(TDateTime ANow) {
  // Each task on its own: one that cannot be saved does not keep the others from being asked for.
  int32_t LFirstFailure = 0;
  for (std::string_view LId : CEnqueueAllAgentTaskIds) {
    const int32_t LResult = EnqueueAgentTask(std::string(LId), ANow);
    if (LFirstFailure == 0) LFirstFailure = LResult;
  }
  return LFirstFailure;
}

void TAgentTaskJobListProvider::RunAndWaitForAgentTask(const std::string& AScannerId) {
  const std::shared_ptr<TScannerJobAction> LAction = CreateAgentTaskAction(AScannerId);
  LAction->AgentTaskId = AScannerId;
  FAgentTaskDispatcher.Value()->StartScanner(LAction, [] { return true; });
}

}  // namespace Orvane
