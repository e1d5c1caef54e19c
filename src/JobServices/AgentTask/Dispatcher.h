#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Container/Lazy.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Jobs/JobTypes.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// Finds the agent task for an id among all registered tasks and runs it on the caller's thread.
// Ids compare exactly. A found task is kept for the dispatcher's life; an id that matches no task
// is searched for again on every call, so a task registered later is found.
//
// Threading: any thread may call any operation, and tasks run side by side, each on its caller's
// thread; the dispatcher serialises none of them. FLock guards FTaskLookup only, around the cache
// lookup and the insert, never while the registered tasks are walked (the walk builds tasks
// through the container, and a task may look tasks up itself) and never while a task runs. First
// lookups of one id at once may each walk; the first task stored is the one every caller gets.
class TAgentTaskDispatcher : public TOrvaneObject, public virtual IAgentTaskDispatcher {
public:
  TAgentTaskDispatcher(TClientId AClientId, Lazy<IEnumerable<std::shared_ptr<IAgentTask>>> ATasks);
  TAgentTaskDispatcher(const TAgentTaskDispatcher&) = delete;
  TAgentTaskDispatcher& operator=(const TAgentTaskDispatcher&) = delete;

  std::string ClassName() const override { return "TAgentTaskDispatcher"; }

  // Runs the task named by the job's scanner action. Raises when the job or its scanner action is
  // missing; the job processor logs that as the job's failure.
  bool StartScanner(const TJobPtr& AJob, const TContinueCheck& ACanContinueWork) override EXCLUDES(FLock);
  // Runs the task named by the action's AgentTaskId for this client; false when the task failed
  // or no task has that id. Exceptions of the task reach the caller.
  bool StartScanner(const std::shared_ptr<TScannerJobAction>& AJobAction,
                    const TContinueCheck& ACanContinueWork) override EXCLUDES(FLock);
  // Runs the collection step of the task AAgentTaskId, for no particular client and without a way
  // to stop it early.
  bool ScanOnly(const std::string& AAgentTaskId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const std::string& ATargetDir) override EXCLUDES(FLock);

private:
  // The task for AId, nullptr when no registered task has that id (or AId is empty).
  std::shared_ptr<IAgentTask> FindAgentTask(const std::string& AId) EXCLUDES(FLock);
  // Walks the registered tasks in registration order for the first whose id is AId. Raises when
  // this thread is already walking for AId: a task that looks itself up while the walk builds it
  // would otherwise be built again without end.
  std::shared_ptr<IAgentTask> SearchTasks(const std::string& AId) const;

  // Resolved by the first lookup that misses the cache; each miss walks it afresh.
  const Lazy<IEnumerable<std::shared_ptr<IAgentTask>>> FTasks;
  TMutex FLock;
  // Only grows: an id, once found, is never searched for again.
  std::unordered_map<std::string, std::shared_ptr<IAgentTask>> FTaskLookup GUARDED_BY(FLock);
  const TClientId FClientId;
};

}  // namespace Orvane
