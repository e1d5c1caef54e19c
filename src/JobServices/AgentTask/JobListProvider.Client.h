#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "JobManagement/JobLists/ClientJobListProvider.h"
#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "OrvaneClientShared/AgentTaskQueue.Intf.h"
#include "OrvaneCore/Container/Lazy.h"

namespace Orvane {

// The job list of the agent-task job service, and the host's agent-task queue. Automatic jobs are
// the client's agent-task jobs from the server (item kind 11), except the one content id that never
// runs as an agent task here. An answer without jobs (a failed request counts as one) enqueues the
// settings watch for one hour later, which makes the provider ask the server again then; not when a
// manual settings watch waits already.
//
// The host enqueues agent tasks as manual jobs, all scanners at once, or runs one task on its own
// thread. A task whose automatic job the server configured runs with a copy of the server's action.
//
// Threading: the host's calls take the provider's lock only to look up the server's action and
// inside AddManualJob; RunAndWaitForAgentTask holds no lock while the task runs.
class TAgentTaskJobListProvider : public TClientJobListProvider<TScannerJobAction>,
                                  public virtual IAgentTaskQueue {
public:
  TAgentTaskJobListProvider(
      std::shared_ptr<IServerRequestSender> ARequestSender,
      std::shared_ptr<IStartConditionStorageManager<TScannerJobAction>> AConditionStorageManager,
      std::shared_ptr<IManualJobSaverJobList<TScannerJobAction>> AManualJobSaver,
      std::shared_ptr<IManualJobLoaderJobList<TScannerJobAction>> AManualJobLoader, TClientId AClientId,
      Lazy<IAgentTaskDispatcher> AAgentTaskDispatcher);

  std::string ClassName() const override { return "TAgentTaskJobListProvider"; }

  // IAgentTaskQueue
  // A manual job of the task, due at ANow. AddManualJob's result.
  int32_t EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow) override;
  // A manual job of the task without a due time, and a delay condition of AStartDelayInMinutes
  // last among its start conditions: the scheduler works out when it is due.
  int32_t EnqueueAgentTask(const std::string& AScannerId, TDateTime ANow,
                           int32_t AStartDelayInMinutes) override;
  // The eight scanners, in their fixed order, each due at ANow; all are tried, and the first
  // failure is the result.
  int32_t EnqueueAllAgentTasks(TDateTime ANow) override;
  // Runs the task named by AScannerId on the calling thread and waits for it. The action given to
  // the dispatcher always names AScannerId, also when it is a copy of a server action that names
  // another task: the caller asked for this task.
  void RunAndWaitForAgentTask(const std::string& AScannerId) override;

protected:
  // False for the agent restart and the settings watch, letter case aside.
  bool IsRegularJob(const std::string& AIdentifier) override;
  bool LoadJobs(TJobList& AJobs, int32_t& AManualJobCount) override REQUIRES(FSynchronizer);

private:
  // Whether a manual job of the task waits in the provider (letter case aside).
  bool HoldsManualJobOf(std::string_view AScannerId) const REQUIRES(FSynchronizer);
  TJobPtr CreateAgentTaskJob(const std::string& AScannerId, TDateTime ANextExecution);
  // A copy of the action of the automatic job with content id AScannerId, else a new action of the
  // task's default class.
  std::shared_ptr<TScannerJobAction> CreateAgentTaskAction(const std::string& AScannerId);

  const Lazy<IAgentTaskDispatcher> FAgentTaskDispatcher;
};

}  // namespace Orvane
