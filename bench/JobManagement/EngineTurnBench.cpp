// One whole turn of the main loop: fetch, scheduling pass and dispatch, with N jobs of which none or
// all are due, beside the evaluation of the same jobs' start conditions alone, which a turn cannot
// undercut. The processors run no-op tasks; the pool is waited for between iterations.
#include <benchmark/benchmark.h>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"
#include "Support/NoOpDispatcher.h"
#include "Support/Sizes.h"

namespace Orvane {
namespace {

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

// Jobs of one agent task each, with a delay condition that is due at once or in an hour.
TJobList MakeJobs(int ACount, bool AAllDue) {
  TJobList LJobs;
  for (int I = 0; I < ACount; ++I) {
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("job-" + std::to_string(I));
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = "task-" + std::to_string(I);
    LJob->SetJobAction(LAction);
    auto LDelay = std::make_shared<TStartConditionOnDelay>();
    LDelay->SetDelayValue(AAllDue ? 0 : 60);
    LJob->GetStartCondition()->AddCondition(LDelay);
    LJobs.push_back(LJob);
  }
  return LJobs;
}

// The service as the module wires it, over a fixed job list and no-op tasks.
struct TTurnRig {
  explicit TTurnRig(TJobList AJobs)
      : Jobs(std::move(AJobs)),
        Pool(std::make_shared<TAgentTaskJobProcessorPool>([LTasks = std::make_shared<Bench::TNoOpDispatcher>()]()
                                                              -> std::shared_ptr<IAgentTaskJobProcessor> {
          return std::make_shared<TAgentTaskJobProcessor>(LTasks);
        })),
        Provider(std::make_shared<TFixedJobListProvider>(Jobs)),
        Queue(std::make_shared<TJobQueue<>>(nullptr, nullptr)),
        Service(std::make_shared<TJobDispatcher>(Queue, Pool, nullptr, Provider),
                std::make_shared<TJobScheduler>(Provider, Queue), Provider, Pool, nullptr, Queue, nullptr, 60) {}

  TJobList Jobs;
  std::shared_ptr<TAgentTaskJobProcessorPool> Pool;
  std::shared_ptr<TFixedJobListProvider> Provider;
  std::shared_ptr<TJobQueue<>> Queue;
  TJobService Service;
};

void BM_OneTurnNoneDue(benchmark::State& AState) {
  TTurnRig LRig(MakeJobs(static_cast<int>(AState.range(0)), false));
  for (auto _ : AState) LRig.Service.RunTurn();  // not started: the turn's wait ends at once
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_OneTurnNoneDue)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

// The limit of the turn above: what its scheduling pass evaluates, with nothing around it.
void BM_StartConditionsAloneNoneDue(benchmark::State& AState) {
  const TJobList LJobs = MakeJobs(static_cast<int>(AState.range(0)), false);
  for (auto _ : AState) {
    const TDateTime LNow = Now();
    const TZoneOffsetScope LZone;
    int LDue = 0;
    for (const TJobPtr& LJob : LJobs)
      if (LJob->GetStartCondition()->CalcNextExecution(LNow) >= 0) ++LDue;
    benchmark::DoNotOptimize(LDue);
  }
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_StartConditionsAloneNoneDue)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

// Every job due: the turn starts a processor thread for each job the pool takes.
void BM_OneTurnAllDue(benchmark::State& AState) {
  TTurnRig LRig(MakeJobs(static_cast<int>(AState.range(0)), true));
  for (auto _ : AState) {
    LRig.Service.RunTurn();
    AState.PauseTiming();
    LRig.Pool->WaitForJobs(600);
    LRig.Pool->AllowJobExecutionForShutdown();
    for (const TJobPtr& LJob : LRig.Jobs) {
      LJob->SetExecState(TJobExecState::Idle);
      LJob->SetNextExecution(CNoDateTime);
    }
    AState.ResumeTiming();
  }
}
BENCHMARK(BM_OneTurnAllDue)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Orvane
