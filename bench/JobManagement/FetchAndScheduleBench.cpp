#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"

namespace Orvane {
namespace {

// A provider whose source is a fixed list of scheduled agent-task jobs.
class TFixedJobListProvider : public TCustomJobListProvider<> {
public:
  explicit TFixedJobListProvider(TJobList AJobs)
      : TCustomJobListProvider<>(nullptr, nullptr, nullptr, nullptr, "FetchAndScheduleBench"),
        FJobs(std::move(AJobs)) {}

protected:
  bool LoadJobs(TJobList& AJobs, int32_t&) override REQUIRES(FSynchronizer) {
    AJobs = FJobs;
    return true;
  }

private:
  const TJobList FJobs;
};

// N jobs with one delay condition each: due at once (delay 0) or only tomorrow. Orders repeat, so
// the fetch sorts.
TJobList MakeJobs(int ACount, bool ADue) {
  TJobList LJobs;
  for (int LIndex = 0; LIndex < ACount; ++LIndex) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("job-" + std::to_string(LIndex));
    LJob->SetDisplayText("Job " + std::to_string(LIndex));
    LJob->SetOrder((LIndex * 7919) % 13);
    auto LCondition = std::make_shared<TStartConditionOnDelay>();
    LCondition->SetDelayValue(ADue ? 0 : 1);
    LCondition->SetValueUnit(TDelayUnit::duDays);
    LJob->GetStartCondition()->AddCondition(LCondition);
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "{TASK-" + std::to_string(LIndex) + "}";
    LJob->SetJobAction(LAction);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

// The provider after its first fetch: the jobs loaded, no reload pending.
std::shared_ptr<TFixedJobListProvider> LoadedProvider(int ACount, bool ADue) {
  auto LProvider = std::make_shared<TFixedJobListProvider>(MakeJobs(ACount, ADue));
  LProvider->FetchJobList();
  return LProvider;
}

// The fetch alone: sort by order, skip the cleanup list, copy out.
void BM_FetchJobList(benchmark::State& AState) {
  RemoveAllLogSinks();
  const auto LProvider = LoadedProvider(static_cast<int>(AState.range(0)), false);
  for (auto _ : AState) benchmark::DoNotOptimize(LProvider->FetchJobList());
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_FetchJobList)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

// One pass (fetch, queue sync, evaluation) over N jobs of which none is due: every pass evaluates
// every condition again.
void BM_UpdateQueueNoneDue(benchmark::State& AState) {
  RemoveAllLogSinks();
  const auto LProvider = LoadedProvider(static_cast<int>(AState.range(0)), false);
  const auto LQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  TJobScheduler LScheduler(LProvider, LQueue);
  for (auto _ : AState) benchmark::DoNotOptimize(LScheduler.UpdateQueue(CAllConditions));
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_UpdateQueueNoneDue)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

// One pass over N jobs that are all due: each is evaluated and queued. Between passes, with the
// clock stopped, the jobs go back to idle and a new empty queue takes the old one's place.
void BM_UpdateQueueAllDue(benchmark::State& AState) {
  RemoveAllLogSinks();
  const auto LProvider = LoadedProvider(static_cast<int>(AState.range(0)), true);
  const TJobList LJobs = LProvider->FetchJobList();
  for (auto _ : AState) {
    AState.PauseTiming();
    for (const TJobPtr& LJob : LJobs) {
      LJob->SetExecState(TJobExecState::Idle);
      LJob->SetNextExecution(CNoDateTime);
    }
    auto LScheduler =
        std::make_unique<TJobScheduler>(LProvider, std::make_shared<TJobQueue<>>(nullptr, nullptr));
    AState.ResumeTiming();
    const int32_t LQueued = LScheduler->UpdateQueue(CAllConditions);
    if (LQueued != AState.range(0)) AState.SkipWithError("not every job was queued");
    AState.PauseTiming();
    LScheduler.reset();
    AState.ResumeTiming();
  }
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_UpdateQueueAllDue)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

}  // namespace
}  // namespace Orvane
