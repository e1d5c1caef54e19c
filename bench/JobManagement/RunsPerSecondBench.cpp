// How many runs a second the whole engine reaches: 1,000 interval jobs, each due once a minute on a
// clock sped up 60 times, so 1,000 runs are due every real second. The task does nothing, the
// condition storage is a real file. Beside it, in the same run, the limit of run-alone jobs: one
// processor thread started and released after the other.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Time/Clock.h"
#include "Support/NoOpDispatcher.h"

namespace Orvane {
namespace {

constexpr int CJobs = 1000;
constexpr double CTimeScale = 60;
constexpr double CWarmUpSeconds = 2;
constexpr double CMeasuredSeconds = 5;

class TCountingStorageManager : public TFileStartConditionStorageManagerNoFilePermissions<> {
public:
  using TFileStartConditionStorageManagerNoFilePermissions<>::TFileStartConditionStorageManagerNoFilePermissions;
  bool SaveConditionStorages() override {
    ++Saves;
    return TFileStartConditionStorageManagerNoFilePermissions<>::SaveConditionStorages();
  }
  std::atomic<int64_t> Saves{0};
};

class TFixedJobListProvider : public TCustomJobListProvider<> {
public:
  TFixedJobListProvider(TJobList AJobs, std::shared_ptr<IStartConditionStorageManager<>> AManager)
      : TCustomJobListProvider<>(nullptr, nullptr, std::move(AManager), nullptr, nullptr, "RunsPerSecondBench"),
        FJobs(std::move(AJobs)) {}

protected:
  bool LoadJobs(TJobList& AJobs, int32_t&) override REQUIRES(FSynchronizer) {
    for (const TJobPtr& LJob : FJobs) AJobs.push_back(LJob);
    return true;
  }

private:
  TJobList FJobs;
};

TJobList IntervalJobs(bool ACanRunParallel) {
  TJobList LJobs;
  for (int I = 0; I < CJobs; ++I) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("{JOB-" + std::to_string(I) + "}");
    LJob->SetCanRunParallel(ACanRunParallel);
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "{TASK-" + std::to_string(I) + "}";
    LJob->SetJobAction(LAction);
    auto LInterval = std::make_shared<TStartConditionInterval>();
    LInterval->SetIntervalValue(1);
    LJob->GetStartCondition()->AddCondition(LInterval);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

std::shared_ptr<TAgentTaskJobProcessorPool> NoOpPool() {
  return std::make_shared<TAgentTaskJobProcessorPool>(
      [LTasks = std::make_shared<Bench::TNoOpDispatcher>()]() -> std::shared_ptr<IAgentTaskJobProcessor> {
        return std::make_shared<TAgentTaskJobProcessor>(LTasks);
      });
}

// Runs the service on the sped-up clock and counts the runs that end in the measured seconds.
void BM_RunsPerSecond(benchmark::State& AState, bool ACanRunParallel) {
  RemoveAllLogSinks();
  std::string LDir = (std::filesystem::temp_directory_path() / "orvane-bench-XXXXXX").string();
  if (!mkdtemp(LDir.data())) return AState.SkipWithError("no scratch directory");
  Clock().SetScaled(CTimeScale);
  for (auto _ : AState) {
    auto LManager = std::make_shared<TCountingStorageManager>(LDir + "/ConditionStorage.xml");
    auto LPool = NoOpPool();
    auto LProvider = std::make_shared<TFixedJobListProvider>(IntervalJobs(ACanRunParallel), LManager);
    auto LQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
    std::atomic<int64_t> LRuns{0};
    LPool->GetOnJobDone().Add([&](const TJobPtr&) { ++LRuns; });
    auto LService = std::make_shared<TJobService>(std::make_shared<TJobDispatcher>(LQueue, LPool, nullptr, LProvider),
                                                  std::make_shared<TJobScheduler>(LProvider, LQueue), LProvider,
                                                  LPool, nullptr, LQueue, nullptr, 60);
    LService->StartAsync(TThreadPriority::tpNormal);
    Clock().SleepMs(static_cast<int64_t>(CWarmUpSeconds * CTimeScale * 1000));
    const int64_t LRunsBefore = LRuns, LSavesBefore = LManager->Saves;
    const TMonoTime LStart = Clock().RealMonotonic();
    Clock().SleepMs(static_cast<int64_t>(CMeasuredSeconds * CTimeScale * 1000));
    const double LSeconds = std::chrono::duration<double>(Clock().RealMonotonic() - LStart).count();
    AState.counters["runs/s"] = static_cast<double>(LRuns - LRunsBefore) / LSeconds;
    AState.counters["saves/s"] = static_cast<double>(LManager->Saves - LSavesBefore) / LSeconds;
    LService->Stop();
    LPool->WaitForJobs(30);
  }
  // The serial slot's limit: one processor started and released after the other.
  auto LPool = NoOpPool();
  const TJobList LJobs = IntervalJobs(false);
  const TMonoTime LStart = Clock().RealMonotonic();
  for (const TJobPtr& LJob : LJobs) {
    LPool->RequestProcessor(LJob)->ProcessJob(LJob);
    LPool->WaitForJobs(30);
  }
  AState.counters["serial limit runs/s"] =
      static_cast<double>(LJobs.size()) / std::chrono::duration<double>(Clock().RealMonotonic() - LStart).count();
  Clock().SetReal();
  std::error_code LIgnored;
  std::filesystem::remove_all(LDir, LIgnored);
}
BENCHMARK_CAPTURE(BM_RunsPerSecond, parallel, true)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(BM_RunsPerSecond, run_alone, false)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace Orvane
