#include "JobServices/AgentTask/Dispatcher.h"

#include <utility>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Container/ContainerTypes.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

// A walk of the registered tasks for one id by one dispatcher, for as long as it lasts. The walks of
// a thread form a chain on its stack, innermost first: a thread-local pointer with no destructor,
// which the Windows runtime could run after freeing its storage.
struct TWalkRecord {
  TWalkRecord(const void* ADispatcher, const std::string& AId);
  ~TWalkRecord();
  TWalkRecord(const TWalkRecord&) = delete;
  TWalkRecord& operator=(const TWalkRecord&) = delete;

  const void* Dispatcher;
  const std::string& Id;
  const TWalkRecord* Outer;
};

thread_local const TWalkRecord* GInnermostWalk = nullptr;

TWalkRecord::TWalkRecord(const void* ADispatcher, const std::string& AId)
    : Dispatcher(ADispatcher), Id(AId), Outer(GInnermostWalk) {
  for (const TWalkRecord* LWalk = Outer; LWalk; LWalk = LWalk->Outer)
    if (LWalk->Dispatcher == Dispatcher && LWalk->Id == Id)
      throw EContainerError(
          "The agent task with id [" + Id +
          "] was looked up while the walk for it was building the registered tasks (a cycle)");
  GInnermostWalk = this;
}

TWalkRecord::~TWalkRecord() {
  GInnermostWalk = Outer;
}

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
  {
    TMutexLock LLock(FLock);
    const auto LCached = FTaskLookup.find(AId);
    if (LCached != FTaskLookup.end()) return LCached->second;
  }
  std::shared_ptr<IAgentTask> LTask = SearchTasks(AId);
  if (!LTask) return nullptr;
  TMutexLock LLock(FLock);
  return FTaskLookup.emplace(AId, std::move(LTask)).first->second;
}

std::shared_ptr<IAgentTask> TAgentTaskDispatcher::SearchTasks(const std::string& AId) const {
  const TWalkRecord LWalk(this, AId);
  for (const std::shared_ptr<IAgentTask>& LTask : FTasks.Value())
    if (LTask && LTask->GetAgentTaskId() == AId) return LTask;
  return nullptr;
}

}  // namespace Orvane
