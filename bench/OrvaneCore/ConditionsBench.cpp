#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <memory>
#include <vector>

#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Conditions/StartConditionOnAgentStart.h"
#include "OrvaneCore/Conditions/StartConditionOnShutdown.h"
#include "OrvaneCore/Conditions/StartConditionOnce.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"
#include "Support/Sizes.h"

namespace Orvane {
namespace {

// A zone with daylight saving, so that the local-time resolution does its full work.
void UseCentralEuropeanTime() {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
}

// The job list of a large client: 10,000 jobs with one to three conditions of mixed kinds, in the
// state a few days of running leave behind (anchors, splays and last runs in their storages).
class TJobConditions {
public:
  explicit TJobConditions(int ACount) : FRunInfo(std::make_shared<TSystemRunInfo>()) {
    const TDateTime LSeen = EncodeDateTime(2026, 1, 2, 9, 0);
    for (int I = 0; I < ACount; ++I) {
      auto LFacade = std::make_shared<TStartConditionFacade>();
      switch (I % 6) {
        case 0:
          LFacade->AddCondition(Daily(8 + I % 10, I % 60, CEveryDay));
          break;
        case 1:
          LFacade->AddCondition(Daily(12, 0, CWorkDays));
          LFacade->AddCondition(std::make_shared<TStartConditionOnShutdown>());
          break;
        case 2:
          LFacade->AddCondition(Interval(15 + I % 45));
          break;
        case 3:
          LFacade->AddCondition(Interval(4));
          LFacade->AddCondition(std::make_shared<TStartConditionOnAgentStart>());
          break;
        case 4: {
          auto LOnce = std::make_shared<TStartConditionOnce>();
          LOnce->SetStartTime(EncodeDateTime(2026, 1, 5 + I % 3, 11, 0));
          LFacade->AddCondition(LOnce);
          break;
        }
        default: {
          auto LDelay = std::make_shared<TStartConditionOnDelay>();
          LDelay->SetCreated(LSeen);
          LDelay->SetDelayValue(60);
          LFacade->AddCondition(LDelay);
          LFacade->AddCondition(Daily(23, 30, CEveryDay));
          LFacade->AddCondition(Interval(120));
        }
      }
      LFacade->SetSystemRunInfo(FRunInfo);
      LFacade->CalcNextExecution(LSeen);
      for (const TStartConditionStoragePtr& LStorage : *LFacade->GetStorages())
        if (I % 2 == 0) LStorage->SetLastRun(LocalToUtc(EncodeDateTime(2026, 1, 5, 9, I % 60)));
      FFacades.push_back(std::move(LFacade));
    }
  }

  // One scheduler pass: every job at the same moment. Returns the number of due jobs.
  int Evaluate(TDateTime ANow) {
    const TZoneOffsetScope LZone;
    int LDue = 0;
    for (const auto& LFacade : FFacades)
      if (LFacade->CalcNextExecution(ANow) >= 0) ++LDue;
    return LDue;
  }

  // The display of a status query.
  double Plan(TDateTime ANow) {
    double LSum = 0;
    for (const auto& LFacade : FFacades) LSum += LFacade->NextPlannedTime(ANow);
    return LSum;
  }

private:
  static TStartConditionPtr Daily(int AHour, int AMinute, uint8_t AWeekDays) {
    auto LDaily = std::make_shared<TStartConditionDaily>();
    LDaily->SetTimeOfDay(AHour, AMinute);
    LDaily->SetWeekDays(AWeekDays);
    LDaily->SetMaxSplaySeconds(1800);
    return LDaily;
  }
  static TStartConditionPtr Interval(int AMinutes) {
    auto LInterval = std::make_shared<TStartConditionInterval>();
    LInterval->SetIntervalValue(AMinutes);
    LInterval->SetMaxSplaySeconds(300);
    return LInterval;
  }

  TSystemRunInfoPtr FRunInfo;
  std::vector<TStartConditionFacadePtr> FFacades;
};

void BM_EvaluateMixedFacadesAtOneMoment(benchmark::State& AState) {
  UseCentralEuropeanTime();
  TJobConditions LJobs(static_cast<int>(AState.range(0)));
  const TDateTime LNow = EncodeDateTime(2026, 1, 5, 12, 30);
  int LDue = 0;
  for (auto _ : AState) {
    LDue = LJobs.Evaluate(LNow);
    benchmark::DoNotOptimize(LDue);
  }
  AState.counters["due"] = LDue;
  AState.SetItemsProcessed(AState.iterations() * AState.range(0));
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_EvaluateMixedFacadesAtOneMoment)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

void BM_NextPlannedTimeOfMixedFacades(benchmark::State& AState) {
  UseCentralEuropeanTime();
  TJobConditions LJobs(static_cast<int>(AState.range(0)));
  const TDateTime LNow = EncodeDateTime(2026, 1, 5, 12, 30);
  for (auto _ : AState) benchmark::DoNotOptimize(LJobs.Plan(LNow));
  AState.SetItemsProcessed(AState.iterations() * AState.range(0));
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_NextPlannedTimeOfMixedFacades)->Apply(Bench::HundredToTenThousand)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace Orvane
