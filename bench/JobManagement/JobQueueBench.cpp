#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "JobManagement/JobService/JobQueue.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"

namespace Orvane {
namespace {

// Scheduled agent-task jobs as a job list holds them: due times spread over a day (some without
// one), a handful of orders, one content id each.
TJobList MakeJobs(int ACount) {
  TJobList LJobs;
  for (int LIndex = 0; LIndex < ACount; ++LIndex) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("job-" + std::to_string(LIndex));
    LJob->SetOrder(LIndex % 5);
    LJob->SetNextExecution(LIndex % 10 == 0 ? CNoDateTime
                                            : 46000.0 + (LIndex * 7919 % ACount) / double(ACount));
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "{TASK-" + std::to_string(LIndex) + "}";
    LJob->SetJobAction(LAction);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

void Fill(TJobQueue<>& AQueue, const TJobList& AJobs) {
  for (const TJobPtr& LJob : AJobs) AQueue.EnqueueJob(LJob);
}

// One linear pass with the comparer over N queued jobs.
void BM_PeekNextJob(benchmark::State& AState) {
  RemoveAllLogSinks();
  const TJobList LJobs = MakeJobs(static_cast<int>(AState.range(0)));
  TJobQueue<> LQueue(nullptr, nullptr);
  Fill(LQueue, LJobs);
  for (auto _ : AState) benchmark::DoNotOptimize(LQueue.PeekNextJob());
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_PeekNextJob)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

// Dequeues a queue of N jobs down to empty and refills it with the clock stopped: one dequeue
// costs a pass over the jobs left (N/2 on average) plus the removal.
void BM_DequeueNextJob(benchmark::State& AState) {
  RemoveAllLogSinks();
  const TJobList LJobs = MakeJobs(static_cast<int>(AState.range(0)));
  TJobQueue<> LQueue(nullptr, nullptr);
  for (auto _ : AState) {
    TJobPtr LJob = LQueue.DequeueNextJob();
    if (!LJob) {
      AState.PauseTiming();
      Fill(LQueue, LJobs);
      AState.ResumeTiming();
      LJob = LQueue.DequeueNextJob();
    }
    benchmark::DoNotOptimize(LJob);
  }
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_DequeueNextJob)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

// The steady state of a busy service: the queue stays at N jobs, each dequeued job is queued
// again (it keeps its queue index, so the order does not change).
void BM_DequeueNextJobAndEnqueueAgain(benchmark::State& AState) {
  RemoveAllLogSinks();
  const TJobList LJobs = MakeJobs(static_cast<int>(AState.range(0)));
  TJobQueue<> LQueue(nullptr, nullptr);
  Fill(LQueue, LJobs);
  for (auto _ : AState) LQueue.EnqueueJob(LQueue.DequeueNextJob());
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_DequeueNextJobAndEnqueueAgain)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

}  // namespace
}  // namespace Orvane
