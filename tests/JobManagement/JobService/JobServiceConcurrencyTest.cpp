// A simulated day of a busy agent: interval jobs fall due hour after hour while host threads add
// manual jobs, ask for reloads and read snapshots. In the second day the host's collaborators also
// fail at random moments.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "EngineKit.h"
#include "Support/ClockScope.h"
#include "Support/ServiceMocks.h"

namespace Orvane::Testing {
namespace {

// What host code may throw besides std::exception.
struct TNotAStdException {};

// The day's record (when each job ran, when a fault hit it, when it was dropped) and, on a faulty
// day, the injected failures, drawn from one seeded generator.
class TDay {
public:
  enum TEvent { Ran, Hit, Dropped };
  explicit TDay(std::optional<uint32_t> AFaultSeed = std::nullopt)
      : FFaulty(AFaultSeed.has_value()), FRandom(AFaultSeed.value_or(0)) {}
  void Add(TEvent AEvent, const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FTimes[{AEvent, AId}].push_back(Now());
  }
  std::vector<TDateTime> Times(TEvent AEvent, const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FTimes[{AEvent, AId}];
  }
  bool Fails(double ARate) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FFaulty && std::uniform_real_distribution<double>(0.0, 1.0)(FRandom) < ARate;
  }
  int Draw(int AFrom, int ATo) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return std::uniform_int_distribution<int>(AFrom, ATo)(FRandom);
  }

private:
  const bool FFaulty;
  TMutex FLock;
  std::mt19937 FRandom GUARDED_BY(FLock);
  std::map<std::pair<TEvent, std::string>, std::vector<TDateTime>> FTimes GUARDED_BY(FLock);
};

// An agent task that logs its runs and, on a faulty day, throws now and then.
std::shared_ptr<IAgentTask> DayTask(const std::string& AId, TDay& ADay) {
  return Task(AId, [AId, &ADay] {
    ADay.Add(TDay::Ran, AId);
    if (ADay.Fails(0.06)) throw std::runtime_error("task failed");
    if (ADay.Fails(0.06)) throw TNotAStdException();
    return true;
  });
}

// A manual-job saver whose write fails now and then: it answers non-zero.
struct TFlakySaver : TRecordingJobSaver {
  explicit TFlakySaver(TDay& ADay) : FDay(ADay) {}
  int32_t SaveItems(const IEnumerable<TJobPtr>& AItems) override {
    TRecordingJobSaver::SaveItems(AItems);  // walks the view as a file saver does
    return FDay.Fails(0.03) ? 1 : 0;
  }
  TDay& FDay;
};

// A condition storage manager whose save fails now and then, in any of the ways it can.
struct TFlakyStorageManager : TRecordingStorageManager {
  explicit TFlakyStorageManager(TDay& ADay) : FDay(ADay) {}
  bool SaveConditionStorages() override {
    if (!FDay.Fails(0.12)) return true;
    const int LWay = FDay.Draw(0, 2);
    if (LWay == 0) throw std::runtime_error("storage failed");
    if (LWay == 1) throw TNotAStdException();
    return false;
  }
  TDay& FDay;
};

std::string ManualId(int AHost, int AIndex) {
  return "manual-" + std::to_string(AHost) + "-" + std::to_string(AIndex);
}
std::string IntervalId(int AIndex) {
  return "interval-" + std::to_string(AIndex);
}

struct TDayScenario {
  int Intervals, Hours, PerHost;  // interval jobs every Hours hours; each of two hosts' manual jobs
  int StopSeconds;                // the bound on the stop after the day
  std::optional<uint32_t> FaultSeed = std::nullopt;
};

// One day of the engine, then a stop. A manual job runs once unless a failure dropped it; an interval
// job runs within its interval (plus room for a turn lost to a failure, the main loop waiting 60
// seconds) unless a fault hit it in between, and on a quiet day never more often than it is due.
void RunDay(const TDayScenario& A) {
  constexpr int CHosts = 2;
  TManualClockScope LClock;
  TDay LDay(A.FaultSeed);
  TEngine::THost LHost;
  TJobList LSource;
  for (int I = 0; I < A.Intervals; ++I) {
    LHost.Tasks.push_back(DayTask(IntervalId(I), LDay));
    LSource.push_back(TaskJob(IntervalId(I), A.Hours));
  }
  for (int H = 0; H < CHosts; ++H)
    for (int I = 0; I < A.PerHost; ++I) LHost.Tasks.push_back(DayTask(ManualId(H, I), LDay));
  if (A.FaultSeed) {
    auto LServant = std::make_shared<testing::NiceMock<MockJobServant>>();
    ON_CALL(*LServant, IsJobStartAllowed(testing::_)).WillByDefault([&](const TJobPtr& AJob) {
      if (!LDay.Fails(0.05)) return true;
      LDay.Add(TDay::Hit, AJob->GetIdentifier());
      if (LDay.Draw(0, 1) == 0) throw std::runtime_error("servant failed");
      throw TNotAStdException();
    });
    LHost.Servant = LServant;
    LHost.StorageManager = std::make_shared<TFlakyStorageManager>(LDay);
    LHost.QueueSaver = std::make_shared<TFlakySaver>(LDay);
    LHost.ListSaver = std::make_shared<TFlakySaver>(LDay);
  }
  TEngine LEngine(LHost, LSource);
  LEngine.Dispatcher->GetOnJobDropped().Add(
      [&](const TJobPtr& AJob) { LDay.Add(TDay::Dropped, AJob->GetIdentifier()); });

  const TDateTime LStart = Now();
  LEngine.Service->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  // The hosts add their manual jobs (on a faulty day at random moments, sleeping on the clock), ask for
  // a reload every tenth and read snapshots; a host whose job could not be saved asks again.
  std::vector<std::thread> LHosts;
  for (int H = 0; H < CHosts; ++H)
    LHosts.emplace_back([&, H] {
      for (int I = 0; I < A.PerHost; ++I) {
        if (A.FaultSeed) Clock().SleepMs(60000LL * LDay.Draw(1, 17));
        auto LJob = TaskJob(ManualId(H, I));
        LJob->SetNextExecution(Now());
        for (int LTry = 0; LTry < 100 && LEngine.Provider->AddManualJob(LJob) != 0; ++LTry) {
        }
        if (I % 10 == 0) LEngine.Provider->GetOnPullRequestReceived().Invoke(nullptr);
        (void)LEngine.Provider->CreateSnapshot();
      }
    });
  // On a faulty day a waiting pass runs beside the main loop at noon.
  std::atomic<bool> LPassDone{!A.FaultSeed};
  if (A.FaultSeed)
    LHosts.emplace_back([&] {
      Clock().SleepMs(12 * 3600 * 1000LL);
      try {
        LEngine.Service->RunAndWaitForJobs(nullptr, nullptr, false, CAllConditions);
      } catch (...) {
        // A failed dispatch leaves the pass as it leaves the dispatcher; the main loop goes on.
      }
      LPassDone = true;
    });
  for (int LMinute = 0; LMinute < 24 * 60; ++LMinute) Clock().AdvanceSeconds(60);
  for (std::thread& LThread : LHosts) LThread.join();
  const TDateTime LEnd = Now();

  Clock().WaitForSleepers(1);
  // Every processor's thread has ended: only the service's own threads are left on the clock.
  for (const std::string& LName : Clock().SleeperNames())
    EXPECT_TRUE(LName == "TJobService.Worker" || LName == "TJobService.TaskProcessor") << LName;
  EXPECT_EQ(LEngine.Pool->GetRunningJobsCount(), 0);
  for (const TJobPtr& LJob : LEngine.Service->FetchJobList())
    EXPECT_NE(LJob->GetExecState(), TJobExecState::Running) << LJob->GetIdentifier();
  EXPECT_TRUE(LPassDone);

  // Time moves only while the stopping thread sleeps on the clock, in steps of 100 ms.
  std::atomic<bool> LStopped{false};
  TMonoTime LStopTook{};
  std::thread LStopper([&] {
    Clock().NameCurrentThread("stopper");
    const TMonoTime LFrom = Clock().Monotonic();
    LEngine.Service->Stop();
    LStopTook = Clock().Monotonic() - LFrom;
    LStopped = true;
  });
  for (int LStep = 0; LStep < 400 && !LStopped; ++LStep) Clock().AdvanceMs(100);
  LStopper.join();
  EXPECT_LE(LStopTook, std::chrono::seconds(A.StopSeconds));

  for (int H = 0; H < CHosts; ++H)
    for (int I = 0; I < A.PerHost; ++I) {
      const std::string LId = ManualId(H, I);
      const size_t LRuns = LDay.Times(TDay::Ran, LId).size();
      const bool LDropped = !LDay.Times(TDay::Dropped, LId).empty();
      EXPECT_TRUE(LRuns > 0 || (A.FaultSeed && LDropped)) << LId << " neither ran nor dropped";
      // The waiting pass schedules beside the main loop: neither may queue a job the other moved.
      EXPECT_LE(LRuns, 1u) << LId << " ran twice";
    }
  for (int I = 0; I < A.Intervals; ++I) {
    std::vector<TDateTime> LTimes = LDay.Times(TDay::Ran, IntervalId(I));
    EXPECT_TRUE(A.FaultSeed || LTimes.size() <= static_cast<size_t>(24 / A.Hours + 1)) << IntervalId(I);
    const std::vector<TDateTime> LHits = LDay.Times(TDay::Hit, IntervalId(I));
    LTimes.push_back(LEnd);
    TDateTime LPrevious = LStart;
    for (TDateTime LTime : LTimes) {
      const bool LHitBetween =
          std::ranges::any_of(LHits, [&](TDateTime AHit) { return AHit >= LPrevious && AHit <= LTime; });
      EXPECT_TRUE(LTime <= IncSeconds(LPrevious, A.Hours * 3600 + 300) || LHitBetween)
          << IntervalId(I) << " missed the interval after " << DateTimeToDisplay(LPrevious);
      LPrevious = LTime;
    }
  }
}

TEST(JobServiceConcurrencyTest, BusyDayRunsEveryDueJobOnceAndStopsInTime) {
  RunDay({.Intervals = 100, .Hours = 2, .PerHost = 50, .StopSeconds = 30});
}

TEST(JobServiceConcurrencyTest, FailuresAtRandomMomentsCostNoJobAndNoStop) {
  const char* LFixed = std::getenv("TESSRA_FAULT_SEED");
  const uint32_t LSeed =
      LFixed ? static_cast<uint32_t>(std::strtoul(LFixed, nullptr, 10)) : std::random_device{}();
  SCOPED_TRACE("fault seed " + std::to_string(LSeed) + " (TESSRA_FAULT_SEED=" + std::to_string(LSeed) +
               " repeats it)");
  RunDay({.Intervals = 40, .Hours = 1, .PerHost = 75, .StopSeconds = 1, .FaultSeed = LSeed});
}

}  // namespace
}  // namespace Orvane::Testing
