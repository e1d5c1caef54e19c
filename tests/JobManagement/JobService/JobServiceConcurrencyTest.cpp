// A simulated day of a busy agent: interval jobs fall due hour after hour while host threads add
// manual jobs, ask for reloads and read snapshots.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"

namespace Orvane {
namespace {

class TQuietTask : public IAgentTask {
public:
  explicit TQuietTask(std::string AId) : FId(std::move(AId)) {}
  bool Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&) override {
    return true;
  }
  std::string GetAgentTaskId() override { return FId; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&,
                const std::string&) override {
    return true;
  }

private:
  const std::string FId;
};

TJobPtr TaskJob(const std::string& AId) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AId);
  LJob->SetDisplayText(AId);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AId;
  LJob->SetJobAction(LAction);
  return LJob;
}

TEST(JobServiceConcurrencyTest, BusyDayRunsEveryDueJobOnceAndStopsInTime) {
  Testing::TManualClockScope LClock;
  constexpr int CIntervalJobs = 100;
  constexpr int CManualJobsPerHost = 50;
  std::vector<std::shared_ptr<IAgentTask>> LTasks;
  TJobList LSource;
  for (int I = 0; I < CIntervalJobs; ++I) {
    const std::string LId = "interval-" + std::to_string(I);
    LTasks.push_back(std::make_shared<TQuietTask>(LId));
    auto LJob = TaskJob(LId);
    auto LInterval = std::make_shared<TStartConditionInterval>();
    LInterval->SetIntervalValue(2);
    LInterval->SetIntervalUnit(TDelayUnit::duHours);
    LJob->GetStartCondition()->AddCondition(LInterval);
    LSource.push_back(LJob);
  }
  for (int H = 0; H < 2; ++H)
    for (int I = 0; I < CManualJobsPerHost; ++I)
      LTasks.push_back(std::make_shared<TQuietTask>("manual-" + std::to_string(H) + "-" + std::to_string(I)));

  auto LDispatcher = std::make_shared<TAgentTaskDispatcher>(
      TClientId{"client"}, Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>(
                               [LTasks] { return IEnumerable<std::shared_ptr<IAgentTask>>::FromVector(LTasks); },
                               [] { return "tasks"; }));
  auto LPool = std::make_shared<TAgentTaskJobProcessorPool>(
      [LDispatcher]() -> std::shared_ptr<IAgentTaskJobProcessor> { return std::make_shared<TAgentTaskJobProcessor>(LDispatcher); });
  auto LRunInfo = std::make_shared<TSystemRunInfo>();
  auto LProvider = std::make_shared<Testing::TScriptedJobListProvider>(nullptr, LRunInfo, nullptr, nullptr, nullptr, "TScannerJobAction");
  LProvider->Source = LSource;
  auto LQueue = std::make_shared<TAgentTaskJobQueue>(nullptr, nullptr, nullptr);
  auto LService = std::make_shared<TJobService>(std::make_shared<TJobDispatcher>(LQueue, LPool, nullptr, LProvider),
                                                std::make_shared<TJobScheduler>(LProvider, LQueue), LProvider, LPool,
                                                nullptr, LQueue, LRunInfo, 60);
  TMutex LLock;
  std::map<std::string, int> LRuns;
  LPool->GetOnJobDone().Add([&](const TJobPtr& AJob) {
    TMutexLock LGuard(LLock);
    ++LRuns[AJob->GetIdentifier()];
  });

  LService->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  std::atomic<bool> LHostsDone{false};
  std::vector<std::thread> LHosts;
  for (int H = 0; H < 2; ++H) {
    LHosts.emplace_back([&, H] {
      for (int I = 0; I < CManualJobsPerHost; ++I) {
        auto LJob = TaskJob("manual-" + std::to_string(H) + "-" + std::to_string(I));
        LJob->SetNextExecution(Now());
        LProvider->AddManualJob(LJob);
        if (I % 10 == 0) LProvider->GetOnPullRequestReceived().Invoke(nullptr);
        (void)LProvider->CreateSnapshot();
      }
    });
  }
  for (int LMinute = 0; LMinute < 24 * 60; ++LMinute) {
    Clock().AdvanceSeconds(60);
    if (LMinute == 10) {
      for (std::thread& LHost : LHosts) LHost.join();
      LHostsDone = true;
    }
  }
  const TMonoTime LStopStart = Clock().Monotonic();
  LService->Stop();
  EXPECT_LE(Clock().Monotonic() - LStopStart, std::chrono::seconds(30));

  TMutexLock LGuard(LLock);
  ASSERT_TRUE(LHostsDone);
  // Runs at 0, 2, ..., 22 hours, and at 24 hours when the last minute reached it.
  for (int I = 0; I < CIntervalJobs; ++I) {
    const int LCount = LRuns["interval-" + std::to_string(I)];
    EXPECT_GE(LCount, 12) << I;
    EXPECT_LE(LCount, 13) << I;
  }
  for (int H = 0; H < 2; ++H)
    for (int I = 0; I < CManualJobsPerHost; ++I)
      EXPECT_EQ(LRuns["manual-" + std::to_string(H) + "-" + std::to_string(I)], 1);
}

}  // namespace
}  // namespace Orvane
