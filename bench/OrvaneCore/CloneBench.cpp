// Cloning jobs with three start conditions and an action: the cost of every manual job that
// enters the queue. Beside it, the floor: a plain deep copy of structs with the same members.
#include <benchmark/benchmark.h>

#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {
namespace {

TJobPtr JobWithThreeConditions(int ANumber) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("{B3A5474A-E933-4CC0-8567-" + std::to_string(100000000000 + ANumber) + "}");
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

// The same members as the job above, as plain structs; the sub-structs are owned through
// shared_ptr and copied deeply, as a clone must.
struct TPlainAction {
  std::string ExecutionId;
  bool IsPredefined = true;
  std::string AgentTaskId = "{F21E8F93-BA40-41E7-A9FB-A0771FA3480B}";
  std::vector<std::string> Paths = {"/etc", "/var/log"};
};
struct TPlainCondition {  // the members of all three kinds
  bool Enabled = true;
  std::string StorageName;
  int32_t MaxSplaySeconds = 0;
  bool CatchUp = true;
  int32_t Value = 5;
  uint8_t Unit = 0;
  TDateTime Created = 46000.5;
  int32_t TimeOfDay = 0;
  uint8_t WeekDays = 127;
};
struct TPlainStorage {
  std::string Name;
  TDateTime LastRun = CNoDateTime, LastDrop = CNoDateTime;
  int32_t SplaySeconds = -1;
  TDateTime Anchor = CNoDateTime, SkippedUntil = CNoDateTime;
};
struct TPlainFacade {
  std::vector<std::shared_ptr<TPlainCondition>> Conditions;
  std::shared_ptr<std::vector<std::shared_ptr<TPlainStorage>>> Storages;
};
struct TPlainJob {
  std::string Identifier, DisplayText = "Computer Scanner";
  bool CanRunParallel = true, IsManual = false, IsRegularJob = true;
  int32_t Order = 0, QueueIndex = -1;
  TDateTime NextExecution = CNoDateTime;
  bool IsUserVisible = true;
  uint8_t ExecState = 0, ItemKind = 0;
  std::shared_ptr<TPlainAction> Action;
  std::shared_ptr<TPlainFacade> StartCondition;
};

std::shared_ptr<TPlainJob> PlainJob(int ANumber) {
  auto LJob = std::make_shared<TPlainJob>();
  LJob->Identifier = "{B3A5474A-E933-4CC0-8567-" + std::to_string(100000000000 + ANumber) + "}";
  LJob->Action = std::make_shared<TPlainAction>();
  LJob->StartCondition = std::make_shared<TPlainFacade>();
  LJob->StartCondition->Storages = std::make_shared<std::vector<std::shared_ptr<TPlainStorage>>>();
  for (const char* LKind :
       {"TStartConditionOnDelay#1", "TStartConditionInterval#1", "TStartConditionDaily#1"}) {
    LJob->StartCondition->Conditions.push_back(
        std::make_shared<TPlainCondition>(TPlainCondition{.StorageName = LKind}));
    LJob->StartCondition->Storages->push_back(std::make_shared<TPlainStorage>(TPlainStorage{.Name = LKind}));
  }
  return LJob;
}

std::shared_ptr<TPlainJob> CopyOf(const TPlainJob& AJob) {
  auto LCopy = std::make_shared<TPlainJob>(AJob);
  LCopy->Action = std::make_shared<TPlainAction>(*AJob.Action);
  LCopy->StartCondition = std::make_shared<TPlainFacade>();
  for (const auto& LCondition : AJob.StartCondition->Conditions)
    LCopy->StartCondition->Conditions.push_back(std::make_shared<TPlainCondition>(*LCondition));
  LCopy->StartCondition->Storages = std::make_shared<std::vector<std::shared_ptr<TPlainStorage>>>();
  for (const auto& LStorage : *AJob.StartCondition->Storages)
    LCopy->StartCondition->Storages->push_back(std::make_shared<TPlainStorage>(*LStorage));
  return LCopy;
}

// Copies every job once per iteration; freeing the copies is left out of the time.
template <class TJobs, class TCopy>
void CopyAll(benchmark::State& AState, const TJobs& AJobs, TCopy ACopy) {
  std::vector<decltype(ACopy(*AJobs.front()))> LCopies;
  LCopies.reserve(AJobs.size());
  for (auto _ : AState) {
    for (const auto& LJob : AJobs) LCopies.push_back(ACopy(*LJob));
    AState.PauseTiming();
    LCopies.clear();
    AState.ResumeTiming();
  }
  AState.SetComplexityN(AState.range(0));
  AState.counters["per_job"] =
      benchmark::Counter(static_cast<double>(AJobs.size()),
                         benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_CloneJobs(benchmark::State& AState) {
  std::vector<TJobPtr> LJobs;
  for (int I = 0; I < AState.range(0); ++I) LJobs.push_back(JobWithThreeConditions(I));
  CopyAll(AState, LJobs, [](const TJob& AJob) { return CloneAs(AJob); });
}
BENCHMARK(BM_CloneJobs)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

void BM_CopyPlainJobs(benchmark::State& AState) {
  std::vector<std::shared_ptr<TPlainJob>> LJobs;
  for (int I = 0; I < AState.range(0); ++I) LJobs.push_back(PlainJob(I));
  CopyAll(AState, LJobs, [](const TPlainJob& AJob) { return CopyOf(AJob); });
}
BENCHMARK(BM_CopyPlainJobs)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Orvane
