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
// thread; the dispatcher serialises none of them.
// - FLock guards FTaskLookup and FSearches. It is a leaf lock, held only to read or change the two
//   maps: never while the registered tasks are walked (the walk builds tasks through the
//   container) and never while a task runs.
// - A lookup that misses the cache walks the tasks once however many threads ask for that id at
//   once: the first one searches, the others wait on the clock for its result (TOnceState, which
//   also turns a task that looks itself up while being built into an error instead of a
//   deadlock). Lookups of different ids walk side by side.
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
  // Walks the registered tasks in registration order for the first whose id is AId.
  std::shared_ptr<IAgentTask> SearchTasks(const std::string& AId) const;
  // Drops the search for AId when it is still ASearch (a later search may have replaced it).
  void ForgetSearch(const std::string& AId, const std::shared_ptr<TOnceState>& ASearch) EXCLUDES(FLock);

  // Resolved by the first lookup that misses the cache; each miss walks it afresh.
  const Lazy<IEnumerable<std::shared_ptr<IAgentTask>>> FTasks;
  TMutex FLock;
  // Only grows: an id, once found, is never searched for again.
  std::unordered_map<std::string, std::shared_ptr<IAgentTask>> FTaskLookup GUARDED_BY(FLock);
  // The searches under way, one per id.
  std::unordered_map<std::string, std::shared_ptr<TOnceState>> FSearches GUARDED_BY(FLock);
  const TClientId FClientId;
};

}  // namespace Orvane
