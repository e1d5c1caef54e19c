#include "JobServices/AgentTask/Dispatcher.h"

#include <utility>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

// Ends a search that found nothing. The search's once-state stays unbuilt, so nothing is cached
// and a thread still waiting for that search walks the tasks again itself.
struct TNoAgentTaskFound {};

void LogNoAgentTask(const std::string& AId) {
  OrvaneLogger()->Message("No agent task found with id: [%s]", {AId});
}

}  // namespace

TAgentTaskDispatcher::TAgentTaskDispatcher(TClientId AClientId,
                                           Lazy<IEnumerable<std::shared_ptr<IAgentTask>>> ATasks)
    : FTasks(std::move(ATasks)), FClientId(std::move(AClientId)) {}

bool TAgentTaskDispatcher::StartScanner(const TJobPtr& AJob, const TContinueCheck& ACanContinueWork) {
  if (!AJob) throw EInvalidPointer("TAgentTaskDispatcher.StartScanner: no job was given");
  const std::shared_ptr<TJobAction> LAction = AJob->GetJobAction();
  const auto LScannerAction = std::dynamic_pointer_cast<TScannerJobAction>(LAction);
  if (!LScannerAction)
    throw EArgumentException("TAgentTaskDispatcher.StartScanner: the job [" + AJob->GetIdentifier() +
                             "] has no TScannerJobAction to start (its action is " +
                             (LAction ? LAction->ClassName() : std::string("missing")) + ")");
  return StartScanner(LScannerAction, ACanContinueWork);
}

bool TAgentTaskDispatcher::StartScanner(const std::shared_ptr<TScannerJobAction>& AJobAction,
                                        const TContinueCheck& ACanContinueWork) {
  if (!AJobAction) throw EInvalidPointer("TAgentTaskDispatcher.StartScanner: no job action was given");
  const std::string LId = AJobAction->AgentTaskId;
  const std::shared_ptr<IAgentTask> LTask = FindAgentTask(LId);
  if (!LTask) {
    LogNoAgentTask(LId);
    return false;
  }
  return LTask->Execute(FClientId.Value, AJobAction, ACanContinueWork);
}

bool TAgentTaskDispatcher::ScanOnly(const std::string& AAgentTaskId,
                                    const std::shared_ptr<TScannerJobAction>& AJobAction,
                                    const std::string& ATargetDir) {
  const std::shared_ptr<IAgentTask> LTask = FindAgentTask(AAgentTaskId);
  if (!LTask) {
    LogNoAgentTask(AAgentTaskId);
    return false;
  }
  const TContinueCheck LAlwaysContinue = [] { return true; };
  return LTask->ScanOnly("", AJobAction, LAlwaysContinue, ATargetDir);
}

std::shared_ptr<IAgentTask> TAgentTaskDispatcher::FindAgentTask(const std::string& AId) {
  // A task that reports no id is broken; an empty id never names one.
  if (AId.empty()) return nullptr;
  std::shared_ptr<TOnceState> LSearch;
  {
    TMutexLock LLock(FLock);
    const auto LCached = FTaskLookup.find(AId);
    if (LCached != FTaskLookup.end()) return LCached->second;
    std::shared_ptr<TOnceState>& LSlot = FSearches[AId];
    if (!LSlot) LSlot = std::make_shared<TOnceState>();
    LSearch = LSlot;
  }

  std::shared_ptr<void> LFound;
  try {
    LFound = LSearch->Get(
        [this, &AId]() -> std::shared_ptr<void> {
          std::shared_ptr<IAgentTask> LTask = SearchTasks(AId);
          if (!LTask) throw TNoAgentTaskFound();
          // Cached before the waiting threads are released, so every later lookup is a hit.
          TMutexLock LLock(FLock);
          return FTaskLookup.emplace(AId, std::move(LTask)).first->second;
        },
        [&AId] { return "The agent task with id [" + AId + "]"; });
  } catch (const TNoAgentTaskFound&) {
    ForgetSearch(AId, LSearch);
    return nullptr;
  } catch (...) {
    ForgetSearch(AId, LSearch);
    throw;
  }
  ForgetSearch(AId, LSearch);
  return std::static_pointer_cast<IAgentTask>(LFound);
}

std::shared_ptr<IAgentTask> TAgentTaskDispatcher::SearchTasks(const std::string& AId) const {
  for (const std::shared_ptr<IAgentTask>& LTask : FTasks.Value())
    if (LTask && LTask->GetAgentTaskId() == AId) return LTask;
  return nullptr;
}

void TAgentTaskDispatcher::ForgetSearch(const std::string& AId, const std::shared_ptr<TOnceState>& ASearch) {
  TMutexLock LLock(FLock);
  const auto LSlot = FSearches.find(AId);
  if (LSlot != FSearches.end() && LSlot->second == ASearch) FSearches.erase(LSlot);
}

}  // namespace Orvane
