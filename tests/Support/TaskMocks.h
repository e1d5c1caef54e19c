#pragma once

#include <gmock/gmock.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/AgentRestartCommand.Intf.h"
#include "OrvaneClientShared/AgentTaskQueue.Intf.h"
#include "OrvaneCore/Base/Enumerable.h"
#include "OrvaneCore/Base/OrvaneObject.h"
#include "OrvaneCore/Container/Lazy.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Interfaces/JobListProvider.Intf.h"
#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane::Testing {

class MockAgentTask : public IAgentTask {
public:
  MOCK_METHOD(bool, Execute,
              (const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&),
              (override));
  MOCK_METHOD(std::string, GetAgentTaskId, (), (override));
  MOCK_METHOD(bool, ScanOnly,
              (const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&,
               const std::string&),
              (override));
};

// A task that answers to AId and fails the test on any call it does not expect.
inline std::shared_ptr<::testing::StrictMock<MockAgentTask>> StrictTask(const std::string& AId) {
  auto LTask = std::make_shared<::testing::StrictMock<MockAgentTask>>();
  EXPECT_CALL(*LTask, GetAgentTaskId()).WillRepeatedly(::testing::Return(AId));
  return LTask;
}

inline std::shared_ptr<TScannerJobAction> ScannerAction(const std::string& AAgentTaskId) {
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AAgentTaskId;
  return LAction;
}

// A job list provider of any action class: MockJobListProvider<TScannerJobAction>,
// MockJobListProvider<TJobAction>, MockJobListProvider<> for the untyped interface.
template <class T = void>
class MockJobListProvider : public virtual IJobListProvider<T> {
public:
  MOCK_METHOD(TNotifyEvent&, GetOnPullRequestReceived, (), (override));
  MOCK_METHOD(TOnNewManualJobEvent&, GetOnManualJobsChanged, (), (override));
  MOCK_METHOD(bool, GetLoadListFromServerOnNextFetch, (), (override));
  MOCK_METHOD(void, SetLoadListFromServerOnNextFetch, (bool), (override));
  MOCK_METHOD(TSystemRunInfoPtr, GetSystemRunInfo, (), (override));
  MOCK_METHOD(void, SetSystemRunInfo, (const TSystemRunInfoPtr&), (override));
  MOCK_METHOD(int32_t, AddManualJob, (const TJobPtr&), (override));
  MOCK_METHOD(void, RemoveManualJob, (const TJobPtr&), (override));
  MOCK_METHOD(TJobList, FetchJobList, (), (override));
  MOCK_METHOD(int32_t, SaveQueuedManualJobs, (), (override));
  MOCK_METHOD(void, LoadQueuedManualJobs, (), (override));
  MOCK_METHOD(void, SaveConditionStorages, (), (override));
};

// The agent task queue as the host sees it: the job list's calls come from the provider mock, which
// shares the queue's one job-list base.
class MockAgentTaskQueue : public MockJobListProvider<>, public IAgentTaskQueue {
public:
  MOCK_METHOD(int32_t, EnqueueAgentTask, (const std::string&, TDateTime), (override));
  MOCK_METHOD(int32_t, EnqueueAgentTask, (const std::string&, TDateTime, int32_t), (override));
  MOCK_METHOD(int32_t, EnqueueAllAgentTasks, (TDateTime), (override));
  MOCK_METHOD(void, RunAndWaitForAgentTask, (const std::string&), (override));
};

// The host's global second provider is handed around as a TOrvaneObject that may also be a job
// list provider.
class MockGlobalJobListProvider : public TOrvaneObject, public MockJobListProvider<> {
public:
  std::string ClassName() const override { return "MockGlobalJobListProvider"; }
};

class MockAgentRestartCommand : public ITessraAgentRestartCommand {
public:
  MOCK_METHOD(void, RestartAgent, (), (override));
};

// The registered agent tasks as the container hands them to the dispatcher, counting the walks
// over them. OnWalk, when set, runs at the start of every walk (to hold a walk at a gate, or to
// fail it). Add and SetOnWalk belong to the test's own thread, before or between lookups.
class TCountingTaskSequence {
public:
  using TTasks = IEnumerable<std::shared_ptr<IAgentTask>>;

  void Add(std::shared_ptr<IAgentTask> ATask) { FState->Tasks.push_back(std::move(ATask)); }
  void SetOnWalk(std::function<void()> AOnWalk) { FState->OnWalk = std::move(AOnWalk); }
  int Walks() const { return FState->Walks.load(); }

  Lazy<TTasks> AsLazy() const {
    std::shared_ptr<TState> LState = FState;
    return Lazy<TTasks>(
        [LState] {
          return TTasks([LState]() -> TTasks::TEnumerator {
            ++LState->Walks;
            if (LState->OnWalk) LState->OnWalk();
            auto LTasks = std::make_shared<const std::vector<std::shared_ptr<IAgentTask>>>(LState->Tasks);
            return [LTasks, LIndex = std::size_t{0}]() mutable -> std::optional<std::shared_ptr<IAgentTask>> {
              if (LIndex >= LTasks->size()) return std::nullopt;
              return (*LTasks)[LIndex++];
            };
          });
        },
        [] { return std::string("the test's agent tasks"); });
  }

private:
  struct TState {
    std::vector<std::shared_ptr<IAgentTask>> Tasks;
    std::function<void()> OnWalk;
    std::atomic<int> Walks{0};
  };
  std::shared_ptr<TState> FState = std::make_shared<TState>();
};

}  // namespace Orvane::Testing
