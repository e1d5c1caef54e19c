#pragma once

#include <gmock/gmock.h>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "Support/EngineMocks.h"
#include "Support/TaskMocks.h"

// The engine's real classes (job list, scheduler, queue, dispatcher, pool, processors, agent task
// dispatcher, service) around the host's collaborators that a test hands in.
namespace Orvane::Testing {

// A job of the agent task AId, every AIntervalHours hours when that is not 0.
inline TJobPtr TaskJob(const std::string& AId, int AIntervalHours = 0) {
  const TJobPtr LJob = NewJob(AId, {.Task = AId, .Text = AId});
  if (AIntervalHours == 0) return LJob;
  auto LInterval = std::make_shared<TStartConditionInterval>();
  LInterval->SetIntervalValue(AIntervalHours);
  LInterval->SetIntervalUnit(TDelayUnit::duHours);
  LJob->GetStartCondition()->AddCondition(LInterval);
  return LJob;
}

// An agent task of the id AId that runs ARun.
inline std::shared_ptr<IAgentTask> Task(const std::string& AId, std::function<bool()> ARun) {
  auto LTask = std::make_shared<::testing::NiceMock<MockAgentTask>>();
  ON_CALL(*LTask, GetAgentTaskId()).WillByDefault(::testing::Return(AId));
  ON_CALL(*LTask, Execute).WillByDefault([ARun](auto&&...) { return ARun(); });
  return LTask;
}

struct TEngine {
  struct THost {
    std::vector<std::shared_ptr<IAgentTask>> Tasks = {};
    std::shared_ptr<IJobServant> Servant = {};
    std::shared_ptr<IStartConditionStorageManager<>> StorageManager = {};
    std::shared_ptr<IManualJobSaverQueue<TScannerJobAction>> QueueSaver = {};
    std::shared_ptr<IItemSaver<TJob>> ListSaver = {};
  };

  TEngine(const THost& AHost, const TJobList& ASource) {
    auto LTaskDispatcher = std::make_shared<TAgentTaskDispatcher>(
        TClientId{"client"},
        Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>(
            [LTasks = AHost.Tasks] { return IEnumerable<std::shared_ptr<IAgentTask>>::FromVector(LTasks); },
            [] { return "tasks"; }));
    Pool = std::make_shared<TAgentTaskJobProcessorPool>(
        [LTaskDispatcher]() -> std::shared_ptr<IAgentTaskJobProcessor> {
          return std::make_shared<TAgentTaskJobProcessor>(LTaskDispatcher);
        });
    Provider = std::make_shared<TScriptedJobListProvider>(nullptr, RunInfo, AHost.StorageManager,
                                                          AHost.ListSaver, nullptr, "TScannerJobAction");
    Provider->Source = ASource;
    Queue = std::make_shared<TAgentTaskJobQueue>(AHost.QueueSaver, nullptr, nullptr);
    Dispatcher = std::make_shared<TJobDispatcher>(Queue, Pool, AHost.Servant, Provider);
    Service = std::make_shared<TJobService>(Dispatcher, std::make_shared<TJobScheduler>(Provider, Queue),
                                            Provider, Pool, AHost.Servant, Queue, RunInfo, 60);
  }

  TSystemRunInfoPtr RunInfo = std::make_shared<TSystemRunInfo>();
  std::shared_ptr<TAgentTaskJobProcessorPool> Pool;
  std::shared_ptr<TScriptedJobListProvider> Provider;
  std::shared_ptr<TAgentTaskJobQueue> Queue;
  std::shared_ptr<TJobDispatcher> Dispatcher;
  std::shared_ptr<TJobService> Service;  // last: goes first, with its subscriptions
};

}  // namespace Orvane::Testing
