// Cloning a job with three start conditions and an action: the cost of every manual job that
// enters the queue.
#include <benchmark/benchmark.h>

#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {
namespace {

TJobPtr JobWithThreeConditions() {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("{B3A5474A-E933-4CC0-8567-C80F6591AC19}");
  LJob->SetDisplayText("Computer Scanner");
  auto LAction = std::make_shared<TFileScannerJobAction>();
  LAction->AgentTaskId = "{F21E8F93-BA40-41E7-A9FB-A0771FA3480B}";
  LAction->Paths = {"/etc", "/var/log"};
  LJob->SetJobAction(LAction);
  auto LDelay = std::make_shared<TStartConditionOnDelay>();
  LDelay->SetDelayValue(5);
  LJob->GetStartCondition()->AddCondition(LDelay);
  auto LInterval = std::make_shared<TStartConditionInterval>();
  LInterval->SetIntervalValue(2);
  LJob->GetStartCondition()->AddCondition(LInterval);
  LJob->GetStartCondition()->AddCondition(std::make_shared<TStartConditionDaily>());
  return LJob;
}

void BM_CloneJob(benchmark::State& AState) {
  const TJobPtr LJob = JobWithThreeConditions();
  for (auto _ : AState) benchmark::DoNotOptimize(LJob->Clone());
}
BENCHMARK(BM_CloneJob)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Orvane
