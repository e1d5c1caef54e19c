// Request, run and release of no-op jobs through the agent-task pool: one thread per job, as the
// service runs them.
#include <benchmark/benchmark.h>

#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/NoOpDispatcher.h"

namespace Orvane {
namespace {

void BM_RequestRunRelease(benchmark::State& AState) {
  const int LJobs = static_cast<int>(AState.range(0));
  auto LDispatcher = std::make_shared<Bench::TNoOpDispatcher>();
  for (auto _ : AState) {
    auto LPool = std::make_shared<TAgentTaskJobProcessorPool>(
        [&]() -> std::shared_ptr<IAgentTaskJobProcessor> { return std::make_shared<TAgentTaskJobProcessor>(LDispatcher); });
    for (int I = 0; I < LJobs; ++I) {
      auto LJob = std::make_shared<TJob>();
      LJob->SetIdentifier("job-" + std::to_string(I));
      LJob->SetJobAction(std::make_shared<TScannerJobAction>());
      LPool->RequestProcessor(LJob)->ProcessJob(LJob);
    }
    LPool->WaitForJobs(600);
    LPool.reset();  // frees every processor, joining its thread
  }
  AState.SetItemsProcessed(AState.iterations() * LJobs);
}
BENCHMARK(BM_RequestRunRelease)->Arg(1000)->Unit(benchmark::kMillisecond);

// The cost of the thread alone: start and join one processor that does nothing.
void BM_OneProcessorThread(benchmark::State& AState) {
  auto LDispatcher = std::make_shared<Bench::TNoOpDispatcher>();
  auto LJob = std::make_shared<TJob>();
  LJob->SetJobAction(std::make_shared<TScannerJobAction>());
  for (auto _ : AState) {
    TAgentTaskJobProcessor LProcessor(LDispatcher);
    LProcessor.ProcessJob(LJob);
  }
}
BENCHMARK(BM_OneProcessorThread)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Orvane
