// One whole turn of the main loop: fetch, scheduling pass and dispatch, with N jobs of which none or
// all are due. The processors run no-op tasks; the pool is waited for between iterations.
#include <benchmark/benchmark.h>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"

namespace Orvane {
namespace {

class TNoOpDispatcher : public IAgentTaskDispatcher {
public:
  bool StartScanner(const TJobPtr&, const TContinueCheck&) override { return true; }
  bool StartScanner(const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&) override { return true; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const std::string&) override {
    return true;
  }
};

// A job list whose automatic jobs are fixed.
class TFixedJobListProvider : public TCustomJobListProvider<> {
public:
  TFixedJobListProvider(TJobList AJobs)
      : TCustomJobListProvider<>(nullptr, nullptr, nullptr, nullptr, nullptr, "EngineTurnBench"), FJobs(std::move(AJobs)) {}

protected:
  bool LoadJobs(TJobList& AJobs, int32_t&) override REQUIRES(FSynchronizer) {
    for (const TJobPtr& LJob : FJobs) AJobs.push_back(LJob);
    return true;
  }

private:
  TJobList FJobs;
};

void BM_OneTurn(benchmark::State& AState) {
  const int LCount = static_cast<int>(AState.range(0));
  const bool LAllDue = AState.range(1) != 0;
  TJobList LJobs;
  for (int I = 0; I < LCount; ++I) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("job-" + std::to_string(I));
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "task-" + std::to_string(I);
    LJob->SetJobAction(LAction);
    auto LDelay = std::make_shared<TStartConditionOnDelay>();
    LDelay->SetDelayValue(LAllDue ? 0 : 60);
    LJob->GetStartCondition()->AddCondition(LDelay);
    LJobs.push_back(LJob);
  }
  auto LTaskDispatcher = std::make_shared<TNoOpDispatcher>();
  auto LPool = std::make_shared<TAgentTaskJobProcessorPool>(
      [LTaskDispatcher]() -> std::shared_ptr<IAgentTaskJobProcessor> { return std::make_shared<TAgentTaskJobProcessor>(LTaskDispatcher); });
  auto LProvider = std::make_shared<TFixedJobListProvider>(LJobs);
  auto LQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  TJobService LService(std::make_shared<TJobDispatcher>(LQueue, LPool, nullptr, LProvider),
                       std::make_shared<TJobScheduler>(LProvider, LQueue), LProvider, LPool, nullptr, LQueue, nullptr, 60);
  for (auto _ : AState) {
    LService.RunTurn();  // not started: the turn's wait ends at once
    AState.PauseTiming();
    LPool->WaitForJobs(600);
    LPool->AllowJobExecutionForShutdown();
    for (const TJobPtr& LJob : LJobs) {
      LJob->SetExecState(TJobExecState::Idle);
      LJob->SetNextExecution(CNoDateTime);
    }
    AState.ResumeTiming();
  }
}
BENCHMARK(BM_OneTurn)->ArgsProduct({{10, 1000, 10000}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Orvane
