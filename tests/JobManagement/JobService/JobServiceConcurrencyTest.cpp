// The engine under threads. A simulated day of a busy agent: interval jobs fall due hour after hour
// while host threads add manual jobs, ask for reloads and read snapshots; in the second day the
// host's collaborators also fail at random moments. Then the queue, and providers of one job list.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <thread>
#include <unordered_set>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/LogCapture.h"
#include "Support/RecordingJobStorage.h"
#include "Support/RunConcurrently.h"
#include "Support/ServiceMocks.h"
#include "Support/TaskMocks.h"

namespace Orvane::Testing {
namespace {

// A job of the agent task AId, every AIntervalHours hours when that is not 0.
TJobPtr TaskJob(const std::string& AId, int AIntervalHours = 0) {
  const TJobPtr LJob = NewJob(AId, {.Task = AId, .Text = AId});
  if (AIntervalHours == 0) return LJob;
  auto LInterval = std::make_shared<TStartConditionInterval>();
  LInterval->SetIntervalValue(AIntervalHours);
  LInterval->SetIntervalUnit(TDelayUnit::duHours);
  LJob->GetStartCondition()->AddCondition(LInterval);
  return LJob;
}

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
  auto LTask = std::make_shared<::testing::NiceMock<MockAgentTask>>();
  ON_CALL(*LTask, GetAgentTaskId()).WillByDefault(::testing::Return(AId));
  ON_CALL(*LTask, Execute).WillByDefault([AId, &ADay](auto&&...) {
    ADay.Add(TDay::Ran, AId);
    if (ADay.Fails(0.06)) throw std::runtime_error("task failed");
    if (ADay.Fails(0.06)) throw TNotAStdException();
    return true;
  });
  return LTask;
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
  const auto ManualId = [](int H, int I) { return "manual-" + std::to_string(H) + "-" + std::to_string(I); };
  const auto IntervalId = [](int I) { return "interval-" + std::to_string(I); };
  TManualClockScope LClock;
  TDay LDay(A.FaultSeed);
  std::vector<std::shared_ptr<IAgentTask>> LTasks;
  TJobList LSource;
  for (int I = 0; I < A.Intervals; ++I) {
    LTasks.push_back(DayTask(IntervalId(I), LDay));
    LSource.push_back(TaskJob(IntervalId(I), A.Hours));
  }
  for (int H = 0; H < CHosts; ++H)
    for (int I = 0; I < A.PerHost; ++I) LTasks.push_back(DayTask(ManualId(H, I), LDay));
  // The host's collaborators, on a faulty day flaky ones.
  std::shared_ptr<testing::NiceMock<MockJobServant>> LServant;
  std::shared_ptr<TFlakyStorageManager> LStorageManager;
  std::shared_ptr<TFlakySaver> LQueueSaver, LListSaver;
  if (A.FaultSeed) {
    LServant = std::make_shared<testing::NiceMock<MockJobServant>>();
    ON_CALL(*LServant, IsJobStartAllowed(testing::_)).WillByDefault([&](const TJobPtr& AJob) {
      if (!LDay.Fails(0.05)) return true;
      LDay.Add(TDay::Hit, AJob->GetIdentifier());
      if (LDay.Draw(0, 1) == 0) throw std::runtime_error("servant failed");
      throw TNotAStdException();
    });
    LStorageManager = std::make_shared<TFlakyStorageManager>(LDay);
    LQueueSaver = std::make_shared<TFlakySaver>(LDay);
    LListSaver = std::make_shared<TFlakySaver>(LDay);
  }
  // The engine's real classes (job list, scheduler, queue, dispatcher, pool, processors, agent task
  // dispatcher, service) around them; the service goes first, with its subscriptions.
  auto LTaskDispatcher = std::make_shared<TAgentTaskDispatcher>(
      TClientId{"client"}, Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>(
                               [&] { return IEnumerable<std::shared_ptr<IAgentTask>>::FromVector(LTasks); },
                               [] { return "tasks"; }));
  const auto LPool = std::make_shared<TAgentTaskJobProcessorPool>(
      [LTaskDispatcher] { return std::make_shared<TAgentTaskJobProcessor>(LTaskDispatcher); });
  const auto LRunInfo = std::make_shared<TSystemRunInfo>();
  const auto LProvider = std::make_shared<TScriptedJobListProvider>(nullptr, LRunInfo, LStorageManager,
                                                                    LListSaver, nullptr, "TScannerJobAction");
  LProvider->Source = LSource;
  const auto LQueue = std::make_shared<TAgentTaskJobQueue>(LQueueSaver, nullptr, nullptr);
  const auto LDispatcher = std::make_shared<TJobDispatcher>(LQueue, LPool, LServant, LProvider);
  const auto LService =
      std::make_shared<TJobService>(LDispatcher, std::make_shared<TJobScheduler>(LProvider, LQueue),
                                    LProvider, LPool, LServant, LQueue, LRunInfo, 60);
  LDispatcher->GetOnJobDropped().Add(
      [&](const TJobPtr& AJob) { LDay.Add(TDay::Dropped, AJob->GetIdentifier()); });

  const TDateTime LStart = Now();
  LService->StartAsync(TThreadPriority::tpNormal);
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
        for (int LTry = 0; LTry < 100 && LProvider->AddManualJob(LJob) != 0; ++LTry) {
        }
        if (I % 10 == 0) LProvider->GetOnPullRequestReceived().Invoke(nullptr);
        (void)LProvider->CreateSnapshot();
      }
    });
  // On a faulty day a waiting pass runs beside the main loop at noon.
  std::atomic<bool> LPassDone{!A.FaultSeed};
  if (A.FaultSeed)
    LHosts.emplace_back([&] {
      Clock().SleepMs(12 * 3600 * 1000LL);
      try {
        LService->RunAndWaitForJobs(nullptr, nullptr, false, CAllConditions);
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
  EXPECT_EQ(LPool->GetRunningJobsCount(), 0);
  for (const TJobPtr& LJob : LService->FetchJobList())
    EXPECT_NE(LJob->GetExecState(), TJobExecState::Running) << LJob->GetIdentifier();
  EXPECT_TRUE(LPassDone);

  // Time moves only while the stopping thread sleeps on the clock, in steps of 100 ms.
  std::atomic<bool> LStopped{false};
  TMonoTime LStopTook{};
  std::thread LStopper([&] {
    Clock().NameCurrentThread("stopper");
    const TMonoTime LFrom = Clock().Monotonic();
    LService->Stop();
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

const std::string CRestartTaskId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";
constexpr int CProducers = 3, CJobsPerProducer = 80, CConsumers = 2;

TJobPtr MakeJob(const std::string& AId, const std::string& AContentId, bool AIsManual, TDateTime ADue) {
  return NewJob(AId, {.Task = AContentId, .Manual = AIsManual, .Due = ADue, .Text = AId});
}

// Producers add scheduled and manual jobs (and a second job of the same content right after each,
// which the job list does not hold), consumers take jobs out, and snapshot, save and sync threads
// run beside them. Every job that got in leaves exactly once: dequeued or dropped by SyncQueue.
class JobQueueConcurrencyTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (int LProducer = 0; LProducer < CProducers; ++LProducer) {
      for (int LIndex = 0; LIndex < CJobsPerProducer; ++LIndex) {
        const std::string LName = std::to_string(LProducer) + "-" + std::to_string(LIndex);
        // Every third job is manual; of the scheduled ones, every other one left the job list.
        const bool LIsManual = LIndex % 3 == 0;
        const bool LInJobList = LIsManual || LIndex % 2 == 0;
        const TJobPtr LJob = MakeJob((LInJobList ? "keep-" : "drop-") + LName, "content-" + LName, LIsManual,
                                     100.0 + (LIndex % 7));
        FJobs[LProducer].push_back(LJob);
        FDuplicates[LProducer].push_back(MakeJob("dup-" + LName, "content-" + LName, LIsManual, 50.0));
        if (LInJobList && !LIsManual) FJobList.push_back(LJob);
      }
    }
  }

  void RunAgainst(IJobQueue<>& AQueue, const std::function<void()>& AExtraBody = nullptr) {
    std::atomic<int> LProducersLeft{CProducers}, LAccepted{0}, LDequeued{0}, LBadStates{0}, LDuplicates{0};
    const auto LProducing = [&] { return LProducersLeft.load() > 0; };

    std::vector<std::function<void()>> LBodies;
    for (int LProducer = 0; LProducer < CProducers; ++LProducer) {
      LBodies.push_back([&, LProducer] {
        for (int LIndex = 0; LIndex < CJobsPerProducer; ++LIndex) {
          if (AQueue.EnqueueJob(FJobs[LProducer][LIndex])) ++LAccepted;
          if (AQueue.EnqueueJob(FDuplicates[LProducer][LIndex])) ++LAccepted;
        }
        --LProducersLeft;
      });
    }
    for (int LConsumer = 0; LConsumer < CConsumers; ++LConsumer) {
      LBodies.push_back([&] {
        for (;;) {
          const bool LWasProducing = LProducing();
          if (const TJobPtr LJob = AQueue.DequeueNextJob()) {
            ++LDequeued;
            if (LJob->GetExecState() != TJobExecState::Idle) ++LBadStates;
            // Its run ends at once: the job leaves the saved file.
            AQueue.RunEnded(LJob);
          } else if (!LWasProducing) {
            return;
          } else {
            std::this_thread::yield();
          }
        }
      });
    }
    LBodies.push_back([&] {
      while (LProducing()) {
        const TJobList LSnapshot = AQueue.CreateSnapshot();
        std::unordered_set<std::string> LContentIds;
        for (const TJobPtr& LJob : LSnapshot) {
          if (!LContentIds.insert(LJob->GetContentId()).second) ++LDuplicates;
          if (LJob->GetExecState() != TJobExecState::Queued) ++LBadStates;
        }
      }
    });
    const IEnumerable<TJobPtr> LJobList = IEnumerable<TJobPtr>::FromVector(FJobList);
    for (const std::function<void()>& LEach : std::vector<std::function<void()>>{
             [&] { AQueue.SaveQueuedManualJobs(); }, [&] { AQueue.SyncQueue(LJobList); }, AExtraBody})
      if (LEach)
        LBodies.push_back([&, LEach] {
          while (LProducing()) LEach();
        });

    RunConcurrently(LBodies);

    EXPECT_EQ(AQueue.PeekNextJob(), nullptr);
    const int LDropped = FLog->Count(TLogEntryKind::Object, "Remove job");
    EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Remove job \"keep-"), 0)
        << "only jobs that left the job list";
    EXPECT_EQ(LAccepted.load(), LDequeued.load() + LDropped);
    EXPECT_GE(LAccepted.load(), CProducers * CJobsPerProducer);
    EXPECT_EQ(LBadStates.load(), 0);
    EXPECT_EQ(LDuplicates.load(), 0) << "one content id twice in a snapshot";
    EXPECT_EQ(FSaver->OverlappingSaves(), 0);
    EXPECT_TRUE(FSaver->SavedManualJobsOnly());
    EXPECT_EQ(FSaver->LastSave(), std::vector<std::string>()) << "the last save saw the emptied queue";
  }

  TLogCapture FLog;
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  TJobList FJobs[CProducers];
  TJobList FDuplicates[CProducers];
  TJobList FJobList;
};

TEST_F(JobQueueConcurrencyTest, EnqueueDequeueSnapshotSaveAndSyncRunTogether) {
  TJobQueue<> LQueue(FSaver, nullptr);
  RunAgainst(LQueue);
}

// The agent-task queue's choice reads the list twice inside DequeueNextJob's write section while
// restarts are requested and withdrawn under way; no read taken inside the write may block.
TEST_F(JobQueueConcurrencyTest, ReadsInsideTheWriteSectionNeverBlockWhileRestartsComeAndGo) {
  std::atomic<bool> LRestart{false};
  const auto LServant = std::make_shared<::testing::NiceMock<MockJobServant>>();
  ON_CALL(*LServant, IsRestartRequested()).WillByDefault([&] { return LRestart.load(); });
  // Every producer's job 1 is the restart task, so restart jobs keep arriving and leaving.
  for (int LProducer = 0; LProducer < CProducers; ++LProducer)
    std::static_pointer_cast<TScannerJobAction>(FJobs[LProducer][1]->GetJobAction())->AgentTaskId =
        CRestartTaskId;
  TAgentTaskJobQueue LQueue(FSaver, nullptr, LServant);
  RunAgainst(LQueue, [&] { LRestart = !LRestart.load(); });
}

// Two providers made with one name (in different letter case) on different threads: every section
// that runs under either provider's lock touches one plain counter, so a gap in the exclusion is a
// lost increment, an overlap seen by the counter of threads inside, and a ThreadSanitizer report.
TEST(CustomJobListProviderConcurrencyTest, ProvidersOfOneNameExcludeEachOtherAcrossThreads) {
  constexpr int CRounds = 300;
  int LShared = 0;
  std::atomic<int> LInside{0};
  std::atomic<int> LOverlaps{0};
  const auto LCritical = [&] {
    if (LInside.fetch_add(1) != 0) LOverlaps.fetch_add(1);
    for (int LStep = 0; LStep < 10; ++LStep) ++LShared;
    LInside.fetch_sub(1);
  };
  auto LFirst =
      std::make_shared<TScriptedJobListProvider>(nullptr, nullptr, nullptr, nullptr, "SharedJobList");
  auto LSecond = std::make_shared<TScriptedJobListProvider>(
      nullptr, std::make_shared<TRecordingStorageManager>(), std::make_shared<TRecordingJobListSaver>(),
      nullptr, "sharedjoblist");
  LFirst->Source = {NewJob("a")};
  LFirst->OnLoad = LCritical;
  LSecond->OnLoad = LCritical;
  LSecond->GetOnManualJobsChanged().Add([&](const TJobPtr&) { LCritical(); });
  LSecond->GetOnBeforeManualJobRemoved().Add([&](const TJobPtr&) { LCritical(); });

  const auto Rounds = [](std::function<void(int)> ABody) {
    return [ABody] {
      for (int LRound = 0; LRound < CRounds; ++LRound) ABody(LRound);
    };
  };
  RunConcurrently({Rounds([&](int) {
                     LFirst->SetLoadListFromServerOnNextFetch(true);
                     LFirst->FetchJobList();
                   }),
                   Rounds([&](int ARound) {
                     const TJobPtr LJob = NewJob("m" + std::to_string(ARound));
                     LSecond->AddManualJob(LJob);
                     LSecond->RemoveManualJob(LJob);
                   }),
                   Rounds([&](int) {
                     LSecond->SetLoadListFromServerOnNextFetch(true);
                     LSecond->FetchJobList();
                     LFirst->CreateSnapshot();
                   })});

  EXPECT_EQ(LOverlaps.load(), 0);
  EXPECT_EQ(LShared, 4 * CRounds * 10);
}

}  // namespace
}  // namespace Orvane::Testing
