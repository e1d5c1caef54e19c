// A job travels the whole engine: job list, scheduler, queue, dispatcher, pool, processor and a
// real agent task found by the agent task dispatcher.
#include <gtest/gtest.h>

#include <atomic>

#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/LogCapture.h"
#include "Support/ServiceMocks.h"

namespace Orvane {
namespace {

// An agent task that counts its runs.
class TCountingTask : public IAgentTask {
public:
  bool Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&,
               const TContinueCheck&) override {
    return ++FRuns, true;
  }
  std::string GetAgentTaskId() override { return CScannerId; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&,
                const std::string&) override {
    return true;
  }
  static constexpr const char* CScannerId = "{B3A5474A-E933-4CC0-8567-C80F6591AC19}";
  std::atomic<int> FRuns{0};
};

TJobPtr AgentTaskJob(const std::string& AIdentifier, const std::string& ATaskId) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  LJob->SetDisplayText("Computer Scanner");
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = ATaskId;
  LJob->SetJobAction(LAction);
  return LJob;
}

class JobServiceIntegrationTest : public ::testing::Test {
protected:
  void SetUp() override {
    auto LDispatcher = std::make_shared<TAgentTaskDispatcher>(
        TClientId{"client-1"},
        Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>(
            [LTask = FTask] { return IEnumerable<std::shared_ptr<IAgentTask>>::FromVector({LTask}); },
            [] { return "tasks"; }));
    FPool = std::make_shared<TAgentTaskJobProcessorPool>(
        [LDispatcher]() -> std::shared_ptr<IAgentTaskJobProcessor> {
          return std::make_shared<TAgentTaskJobProcessor>(LDispatcher);
        });
    FProvider = std::make_shared<Testing::TScriptedJobListProvider>(nullptr, FRunInfo, nullptr, nullptr,
                                                                    nullptr, "TScannerJobAction");
    auto LQueue = std::make_shared<TAgentTaskJobQueue>(nullptr, nullptr, nullptr);
    auto LJobDispatcher = std::make_shared<TJobDispatcher>(LQueue, FPool, FServant, FProvider);
    FService =
        std::make_shared<TJobService>(LJobDispatcher, std::make_shared<TJobScheduler>(FProvider, LQueue),
                                      FProvider, FPool, FServant, LQueue, FRunInfo, 60);
  }
  void TearDown() override {
    FService->Stop();
    FService.reset();
  }

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::shared_ptr<TCountingTask> FTask = std::make_shared<TCountingTask>();
  std::shared_ptr<testing::NiceMock<Testing::MockJobServant>> FServant =
      std::make_shared<testing::NiceMock<Testing::MockJobServant>>();
  TSystemRunInfoPtr FRunInfo = std::make_shared<TSystemRunInfo>();
  std::shared_ptr<TAgentTaskJobProcessorPool> FPool;
  std::shared_ptr<Testing::TScriptedJobListProvider> FProvider;
  std::shared_ptr<TJobService> FService;
};

TEST_F(JobServiceIntegrationTest, JobWhoseHandOverKeepsFailingIsDroppedAndTheOthersStillRun) {
  EXPECT_CALL(*FServant, IsJobStartAllowed(testing::_)).WillRepeatedly([](const TJobPtr& AJob) {
    if (AJob->GetIdentifier() == "poison") throw std::runtime_error("servant failed");
    return true;
  });
  auto LPoison = AgentTaskJob("poison", "poison-task");
  LPoison->SetNextExecution(Now());
  FProvider->AddManualJob(LPoison);
  auto LOther = AgentTaskJob(TCountingTask::CScannerId, TCountingTask::CScannerId);
  LOther->SetNextExecution(Now());
  LOther->SetOrder(1);  // behind the poison job
  FProvider->AddManualJob(LOther);
  FService->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  Clock().AdvanceSeconds(2);  // two failed turns, a second apart; the third drops the job
  EXPECT_EQ(FTask->FRuns, 1);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Error, "TJobService.Running"), 2);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Dropped job"));
  const TJobList LList = FService->FetchJobList();
  ASSERT_EQ(LList.size(), 1u);  // back in the job list, not due any more
  EXPECT_EQ(LList[0]->GetIdentifier(), "poison");
  EXPECT_EQ(LList[0]->GetNextExecution(), CNoDateTime);
}

}  // namespace
}  // namespace Orvane
