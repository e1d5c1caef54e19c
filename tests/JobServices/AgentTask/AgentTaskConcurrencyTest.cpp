#include <gmock/gmock.h>

#include <atomic>
#include <map>
#include <thread>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobListProvider.Client.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/HostMocks.h"
#include "Support/RunConcurrently.h"
#include "Support/TaskMocks.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Return;

constexpr int CThreadCount = 8;
// Bounds the gates of these tests; on the manual clock time stands still, so they open only when
// the test opens them.
constexpr int64_t CGateMs = 60'000;

std::string IdOf(int AIndex) {
  return "{00000000-0000-0000-0000-00000000000" + std::to_string(AIndex) + "}";
}

class DispatcherConcurrencyTest : public ::testing::Test {
protected:
  std::shared_ptr<::testing::StrictMock<Testing::MockAgentTask>> AddTask(int AIndex) {
    auto LTask = Testing::StrictTask(IdOf(AIndex));
    FTasks.Add(LTask);
    return LTask;
  }
  bool Start(int AIndex) {
    return FDispatcher.StartScanner(Testing::ScannerAction(IdOf(AIndex)), [] { return true; });
  }
  // Every walk over the tasks waits at the gate until the test opens it.
  void HoldWalksAtGate() { FTasks.SetOnWalk([this] { FGate.WaitFor(CGateMs); }); }
  void JoinAll() {
    for (std::thread& LThread : FThreads) LThread.join();
    FThreads.clear();
  }
  // A failed expectation must not leave a thread behind at the gate.
  void TearDown() override {
    FGate.SetEvent();
    JoinAll();
  }

  Testing::TManualClockScope FClock;
  TWaitableEvent FGate{true, false};
  Testing::TCountingTaskSequence FTasks;
  TAgentTaskDispatcher FDispatcher{TClientId{"client-7"}, FTasks.AsLazy()};
  std::vector<std::thread> FThreads;
};

TEST_F(DispatcherConcurrencyTest, EightFirstLookupsOfOneIdAtOnceAllRunTheTaskAndFillTheCache) {
  AddTask(2);
  EXPECT_CALL(*AddTask(1), Execute(::testing::Eq("client-7"), _, _))
      .Times(CThreadCount + 1)
      .WillRepeatedly(Return(true));
  HoldWalksAtGate();
  for (int LIndex = 0; LIndex < CThreadCount; ++LIndex) FThreads.emplace_back([this] { EXPECT_TRUE(Start(1)); });
  // Every thread is inside its own walk: none waits for another's.
  Clock().WaitForSleepers(CThreadCount);
  FGate.SetEvent();
  JoinAll();
  const int LWalks = FTasks.Walks();
  EXPECT_TRUE(Start(1));
  EXPECT_EQ(FTasks.Walks(), LWalks);
}

TEST_F(DispatcherConcurrencyTest, LookupsOfDifferentIdsWalkSideBySideOncePerId) {
  for (int LIndex = 0; LIndex < CThreadCount; ++LIndex)
    EXPECT_CALL(*AddTask(LIndex), Execute(_, _, _)).Times(2).WillRepeatedly(Return(true));
  HoldWalksAtGate();
  const auto LRunAll = [this] {
    for (int I = 0; I < CThreadCount; ++I) FThreads.emplace_back([this, I] { EXPECT_TRUE(Start(I)); });
  };
  LRunAll();
  // All eight are inside a walk at the same time: no lookup waits for another id's walk.
  Clock().WaitForSleepers(CThreadCount);
  EXPECT_EQ(FTasks.Walks(), CThreadCount);
  FGate.SetEvent();
  JoinAll();
  // The second round is served from the cache.
  LRunAll();
  JoinAll();
  EXPECT_EQ(FTasks.Walks(), CThreadCount);
}

TEST_F(DispatcherConcurrencyTest, RunningTaskHoldsUpNoOtherLookupOrRun) {
  const auto LSlow = AddTask(1);
  EXPECT_CALL(*LSlow, Execute(_, _, _)).WillOnce([this](auto&&...) {
    return FGate.WaitFor(CGateMs) == TWaitResult::wrSignaled;
  });
  EXPECT_CALL(*LSlow, ScanOnly(_, _, _, _)).WillOnce(Return(true));
  EXPECT_CALL(*AddTask(2), Execute(_, _, _)).WillOnce(Return(true));
  FThreads.emplace_back([this] { EXPECT_TRUE(Start(1)); });
  Clock().WaitForSleepers(1);
  // While the slow task runs: a first lookup of another id, and the same task's collection step.
  EXPECT_TRUE(Start(2));
  EXPECT_TRUE(FDispatcher.ScanOnly(IdOf(1), nullptr, "/tmp/out"));
  FGate.SetEvent();
  JoinAll();
  EXPECT_EQ(FTasks.Walks(), 2);
}

TEST(JobProcessingConcurrencyTest, ManyShortJobsFromFourThreadsAreEachReleasedOnce) {
  constexpr int CThreads = 4, CJobsPerThread = 500;
  // A task that does nothing and answers at once, as fast as a task can.
  auto LDispatcher = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskDispatcher>>();
  std::atomic<int> LRuns{0};
  ON_CALL(*LDispatcher, StartScanner(::testing::A<const TJobPtr&>(), _))
      .WillByDefault([&](const TJobPtr&, const TContinueCheck& ACanContinue) { return ++LRuns, ACanContinue(); });
  std::weak_ptr<TJob> LLastManual;
  TMutex LLock;
  std::map<std::string, int> LReleases;                      // under LLock
  std::vector<std::weak_ptr<IAgentTaskJobProcessor>> LMade;  // under LLock
  {
    auto LPool = std::make_shared<TAgentTaskJobProcessorPool>([&] {
      auto LProcessor = std::make_shared<TAgentTaskJobProcessor>(LDispatcher);
      TMutexLock LGuard(LLock);
      LMade.push_back(LProcessor);
      return LProcessor;
    });
    LPool->GetOnJobDone().Add([&](const TJobPtr& AJob) {
      TMutexLock LGuard(LLock);
      ++LReleases[AJob->GetIdentifier()];
    });
    std::vector<std::function<void()>> LWriters;
    for (int T = 0; T < CThreads; ++T)
      LWriters.push_back([&, T] {
        for (int I = 0; I < CJobsPerThread; ++I) {
          auto LJob = Testing::NewJob("job-" + std::to_string(T) + "-" + std::to_string(I),
                                      {.Task = "t", .Manual = I % 2 == 0});
          if (T == 0 && I == CJobsPerThread - 2) LLastManual = LJob;  // one writer thread
          IJobProcessor<>* LProcessor = LPool->RequestProcessor(LJob);
          ASSERT_NE(LProcessor, nullptr);
          LJob->SetExecState(TJobExecState::Running);
          LProcessor->ProcessJob(LJob);
        }
      });
    Testing::RunConcurrently(LWriters);
    LPool->WaitForJobs(600);
    EXPECT_EQ(LPool->GetRunningJobsCount(), 0);
  }
  for (const auto& LProcessor : LMade) EXPECT_TRUE(LProcessor.expired());  // freed with the pool
  EXPECT_EQ(LRuns, CThreads * CJobsPerThread);
  EXPECT_EQ(LReleases.size(), static_cast<std::size_t>(CThreads * CJobsPerThread));
  for (const auto& [LId, LCount] : LReleases) EXPECT_EQ(LCount, 1) << LId;
  EXPECT_TRUE(LLastManual.expired());
}

// A server that always lists the file scanner as an automatic job.
class TFileScannerServer : public IServerRequestSender {
public:
  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override {
    auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
    auto LAction = std::make_shared<TFileScannerJobAction>();
    LAction->AgentTaskId = std::string(CFileScannerId);
    LAction->Paths = {"/srv"};
    LResponse.GetJobList().push_back(
        Testing::NewJob("server-file-scanner", {.Condition = Testing::FixedCondition(0.0)}));
    LResponse.GetJobList().back()->SetJobAction(LAction);
    LResponse.GetExistingManualJobIds() =
        dynamic_cast<TCalcJobsForClientRequest&>(ARequest).GetManualJobIds();
    return 0;
  }
};

// Host threads enqueue and run agent tasks while the service's thread reloads from the server:
// every enqueued job arrives once, and every direct run gets an action of its own.
TEST(AgentTaskJobListProviderConcurrencyTest, HostCallsDuringReloadsLoseNoJobAndShareNoAction) {
  auto LDispatcher = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskDispatcher>>();
  std::atomic<int> LRuns{0};
  ON_CALL(*LDispatcher, StartScanner(::testing::A<const std::shared_ptr<TScannerJobAction>&>(), _))
      .WillByDefault([&](const std::shared_ptr<TScannerJobAction>& AAction, const TContinueCheck&) {
        AAction->ExecutionId = "run";  // written by this thread only: a shared action would race here
        return ++LRuns, true;
      });
  auto LProvider = std::make_shared<TAgentTaskJobListProvider>(
      std::make_shared<TFileScannerServer>(), std::make_shared<Testing::TRecordingStorageManager>(),
      std::make_shared<Testing::TRecordingJobListSaver>(),
      std::make_shared<Testing::TRecordingJobListLoader>(), TClientId{"client-1"},
      Lazy<IAgentTaskDispatcher>(
          [LDispatcher] { return std::static_pointer_cast<IAgentTaskDispatcher>(LDispatcher); },
          [] { return std::string("dispatcher"); }));

  constexpr int CRounds = 50;
  const auto LRepeat = [](auto ABody) -> std::function<void()> {
    return [ABody] {
      for (int LRound = 0; LRound < CRounds; ++LRound) ABody(LRound);
    };
  };
  Testing::RunConcurrently(
      {LRepeat([&](int) {
         LProvider->SetLoadListFromServerOnNextFetch(true);
         LProvider->FetchJobList();
       }),
       LRepeat(
           [&](int ARound) { LProvider->EnqueueAgentTask("{task-" + std::to_string(ARound) + "}", 0.0); }),
       LRepeat([&](int) { LProvider->RunAndWaitForAgentTask(std::string(CFileScannerId)); })});

  EXPECT_EQ(LProvider->CreateSnapshot().ManualJobs.size(), static_cast<std::size_t>(CRounds));
  EXPECT_EQ(LRuns.load(), CRounds);
}

}  // namespace
}  // namespace Orvane
