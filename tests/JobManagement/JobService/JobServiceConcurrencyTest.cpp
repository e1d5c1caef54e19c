// A simulated day of a busy agent: interval jobs fall due hour after hour while host threads add
// manual jobs, ask for reloads and read snapshots. In the second day the host's collaborators also
// fail at random moments.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/ServiceMocks.h"

namespace Orvane {
namespace {

// Injected failures, drawn from one seeded generator and counted by kind.
class TFaults {
public:
  enum TKind { Servant, TaskStd, TaskOther, Saver, Storage, KindCount };
  explicit TFaults(uint32_t ASeed) : FRandom(ASeed) {}
  bool Hit(TKind AKind, double ARate) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    if (std::uniform_real_distribution<double>(0.0, 1.0)(FRandom) >= ARate) return false;
    ++FCounts[AKind];
    return true;
  }
  int Draw(int AFrom, int ATo) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return std::uniform_int_distribution<int>(AFrom, ATo)(FRandom);
  }
  int Count(TKind AKind) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FCounts[AKind];
  }

private:
  TMutex FLock;
  std::mt19937 FRandom GUARDED_BY(FLock);
  int FCounts[KindCount] GUARDED_BY(FLock) = {};
};

// What host code may throw besides std::exception.
struct TNotAStdException {};

// When each job ran, when a fault hit it, and which jobs were dropped.
class TDayLog {
public:
  void Ran(const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FRuns[AId].push_back(Now());
  }
  void Hit(const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FHits[AId].push_back(Now());
  }
  void Dropped(const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FDropped.insert(AId);
  }
  std::vector<TDateTime> Runs(const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FRuns[AId];
  }
  bool WasDropped(const std::string& AId) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FDropped.contains(AId);
  }
  bool HitBetween(const std::string& AId, TDateTime AFrom, TDateTime ATo) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    for (TDateTime LHit : FHits[AId])
      if (LHit >= AFrom && LHit <= ATo) return true;
    return false;
  }

private:
  TMutex FLock;
  std::map<std::string, std::vector<TDateTime>> FRuns GUARDED_BY(FLock);
  std::map<std::string, std::vector<TDateTime>> FHits GUARDED_BY(FLock);
  std::set<std::string> FDropped GUARDED_BY(FLock);
};

// An agent task that logs its runs and, given faults, throws now and then.
class TTask : public IAgentTask {
public:
  TTask(std::string AId, TDayLog& ALog, TFaults* AFaults) : FId(std::move(AId)), FLog(ALog), FFaults(AFaults) {}
  bool Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&) override {
    FLog.Ran(FId);
    if (FFaults && FFaults->Hit(TFaults::TaskStd, 0.06)) throw std::runtime_error("task failed");
    if (FFaults && FFaults->Hit(TFaults::TaskOther, 0.06)) throw TNotAStdException();
    return true;
  }
  std::string GetAgentTaskId() override { return FId; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&,
                const std::string&) override {
    return true;
  }

private:
  const std::string FId;
  TDayLog& FLog;
  TFaults* FFaults;
};

// A manual-job saver whose write fails now and then: it answers non-zero.
class TFlakySaver : public IManualJobSaverQueue<TScannerJobAction> {
public:
  explicit TFlakySaver(TFaults& AFaults) : FFaults(AFaults) {}
  int32_t SaveItem(const TJobPtr& AItem) override { return SaveItems(IEnumerable<TJobPtr>::FromVector({AItem})); }
  int32_t SaveItems(const IEnumerable<TJobPtr>& AItems) override {
    for (const TJobPtr& LJob : AItems) (void)LJob->GetIdentifier();  // walks the view as a file saver does
    return FFaults.Hit(TFaults::Saver, 0.03) ? 1 : 0;
  }
  TNotifyEvent& GetAfterSave() override { return FAfterSave; }
  TAfterSaveItemEvent& GetAfterSaveItem() override { return FAfterSaveItem; }
  TClassName GetItemClass() override { return "TJob"; }

private:
  TFaults& FFaults;
  TNotifyEvent FAfterSave{"AfterSave"};
  TAfterSaveItemEvent FAfterSaveItem{"AfterSaveItem"};
};

// A condition storage manager whose save fails now and then, in any of the ways it can.
class TFlakyStorageManager : public IStartConditionStorageManager<TScannerJobAction> {
public:
  explicit TFlakyStorageManager(TFaults& AFaults) : FFaults(AFaults) {}
  void LoadConditionStorages() override {}
  void RegisterJob(const TJobPtr&) override {}
  void UnRegisterJob(const TJobPtr&) override {}
  bool SaveConditionStorages() override {
    if (!FFaults.Hit(TFaults::Storage, 0.05)) return true;
    switch (FFaults.Draw(0, 2)) {
      case 0:
        throw std::runtime_error("storage failed");
      case 1:
        throw TNotAStdException();
      default:
        return false;
    }
  }

private:
  TFaults& FFaults;
};

TJobPtr TaskJob(const std::string& AId) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AId);
  LJob->SetDisplayText(AId);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AId;
  LJob->SetJobAction(LAction);
  return LJob;
}

TJobPtr IntervalJob(const std::string& AId, int AHours) {
  auto LJob = TaskJob(AId);
  auto LInterval = std::make_shared<TStartConditionInterval>();
  LInterval->SetIntervalValue(AHours);
  LInterval->SetIntervalUnit(TDelayUnit::duHours);
  LJob->GetStartCondition()->AddCondition(LInterval);
  return LJob;
}

std::string ManualId(int AHost, int AIndex) { return "manual-" + std::to_string(AHost) + "-" + std::to_string(AIndex); }

// The engine's real classes (job list, scheduler, queue, dispatcher, pool, processors, agent task
// dispatcher, service) around the host's collaborators that the test hands in.
struct TEngine {
  struct THost {
    std::vector<std::shared_ptr<IAgentTask>> Tasks;
    std::shared_ptr<IJobServant> Servant;
    std::shared_ptr<IStartConditionStorageManager<>> StorageManager;
    std::shared_ptr<IManualJobSaverQueue<TScannerJobAction>> QueueSaver;
    std::shared_ptr<IItemSaver<TJob>> ListSaver;
  };

  TEngine(const THost& AHost, const TJobList& ASource) {
    auto LTasks = AHost.Tasks;
    auto LTaskDispatcher = std::make_shared<TAgentTaskDispatcher>(
        TClientId{"client"}, Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>(
                                 [LTasks] { return IEnumerable<std::shared_ptr<IAgentTask>>::FromVector(LTasks); },
                                 [] { return "tasks"; }));
    Pool = std::make_shared<TAgentTaskJobProcessorPool>([LTaskDispatcher]() -> std::shared_ptr<IAgentTaskJobProcessor> {
      return std::make_shared<TAgentTaskJobProcessor>(LTaskDispatcher);
    });
    Provider = std::make_shared<Testing::TScriptedJobListProvider>(nullptr, RunInfo, AHost.StorageManager, AHost.ListSaver,
                                                                   nullptr, "TScannerJobAction");
    Provider->Source = ASource;
    Queue = std::make_shared<TAgentTaskJobQueue>(AHost.QueueSaver, nullptr, nullptr);
    Dispatcher = std::make_shared<TJobDispatcher>(Queue, Pool, AHost.Servant, Provider);
    Service = std::make_shared<TJobService>(Dispatcher, std::make_shared<TJobScheduler>(Provider, Queue), Provider, Pool,
                                            AHost.Servant, Queue, RunInfo, 60);
  }

  TSystemRunInfoPtr RunInfo = std::make_shared<TSystemRunInfo>();
  std::shared_ptr<TAgentTaskJobProcessorPool> Pool;
  std::shared_ptr<Testing::TScriptedJobListProvider> Provider;
  std::shared_ptr<TAgentTaskJobQueue> Queue;
  std::shared_ptr<TJobDispatcher> Dispatcher;
  std::shared_ptr<TJobService> Service;  // last: goes first, with its subscriptions

  // A host thread's manual jobs, each after ABefore, with a pull request every tenth and a snapshot.
  std::thread AddManualJobs(int AHost, int ACount, std::function<void()> ABefore) {
    return std::thread([this, AHost, ACount, ABefore] {
      for (int I = 0; I < ACount; ++I) {
        ABefore();
        auto LJob = TaskJob(ManualId(AHost, I));
        LJob->SetNextExecution(Now());
        // A host whose job could not be saved is told so, and asks again.
        for (int LTry = 0; LTry < 100 && Provider->AddManualJob(LJob) != 0; ++LTry) {
        }
        if (I % 10 == 0) Provider->GetOnPullRequestReceived().Invoke(nullptr);
        (void)Provider->CreateSnapshot();
      }
    });
  }
};

TEST(JobServiceConcurrencyTest, BusyDayRunsEveryDueJobOnceAndStopsInTime) {
  Testing::TManualClockScope LClock;
  constexpr int CIntervalJobs = 100;
  constexpr int CManualJobsPerHost = 50;
  TDayLog LLog;
  TEngine::THost LHost;
  TJobList LSource;
  for (int I = 0; I < CIntervalJobs; ++I) {
    const std::string LId = "interval-" + std::to_string(I);
    LHost.Tasks.push_back(std::make_shared<TTask>(LId, LLog, nullptr));
    LSource.push_back(IntervalJob(LId, 2));
  }
  for (int H = 0; H < 2; ++H)
    for (int I = 0; I < CManualJobsPerHost; ++I) LHost.Tasks.push_back(std::make_shared<TTask>(ManualId(H, I), LLog, nullptr));
  TEngine LEngine(LHost, LSource);

  LEngine.Service->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  std::atomic<bool> LHostsDone{false};
  std::vector<std::thread> LHosts;
  for (int H = 0; H < 2; ++H) LHosts.push_back(LEngine.AddManualJobs(H, CManualJobsPerHost, [] {}));
  for (int LMinute = 0; LMinute < 24 * 60; ++LMinute) {
    Clock().AdvanceSeconds(60);
    if (LMinute == 10) {
      for (std::thread& LThread : LHosts) LThread.join();
      LHostsDone = true;
    }
  }
  const TMonoTime LStopStart = Clock().Monotonic();
  LEngine.Service->Stop();
  EXPECT_LE(Clock().Monotonic() - LStopStart, std::chrono::seconds(30));

  ASSERT_TRUE(LHostsDone);
  // Runs at 0, 2, ..., 22 hours, and at 24 hours when the last minute reached it.
  for (int I = 0; I < CIntervalJobs; ++I) {
    const size_t LCount = LLog.Runs("interval-" + std::to_string(I)).size();
    EXPECT_GE(LCount, 12u) << I;
    EXPECT_LE(LCount, 13u) << I;
  }
  for (int H = 0; H < 2; ++H)
    for (int I = 0; I < CManualJobsPerHost; ++I) EXPECT_EQ(LLog.Runs(ManualId(H, I)).size(), 1u);
}

TEST(JobServiceConcurrencyTest, FailuresAtRandomMomentsCostNoJobAndNoStop) {
  uint32_t LSeed = std::random_device{}();
  if (const char* LFixed = std::getenv("TESSRA_FAULT_SEED")) LSeed = static_cast<uint32_t>(std::strtoul(LFixed, nullptr, 10));
  SCOPED_TRACE("fault seed " + std::to_string(LSeed) + " (TESSRA_FAULT_SEED=" + std::to_string(LSeed) + " repeats it)");
  Testing::TManualClockScope LClock;
  constexpr int CIntervalJobs = 40;
  constexpr int CHosts = 2;
  constexpr int CManualJobsPerHost = 75;
  // An interval job runs within this long of its due time unless a fault hit it: the main loop's
  // default wait of 60 seconds, plus room for a turn lost to a failure.
  constexpr double CMaxGapSeconds = 3600 + 300;
  TFaults LFaults(LSeed);
  TDayLog LLog;
  TEngine::THost LHost;
  TJobList LSource;
  for (int I = 0; I < CIntervalJobs; ++I) {
    const std::string LId = "interval-" + std::to_string(I);
    LHost.Tasks.push_back(std::make_shared<TTask>(LId, LLog, &LFaults));
    LSource.push_back(IntervalJob(LId, 1));
  }
  for (int H = 0; H < CHosts; ++H)
    for (int I = 0; I < CManualJobsPerHost; ++I)
      LHost.Tasks.push_back(std::make_shared<TTask>(ManualId(H, I), LLog, &LFaults));
  auto LServant = std::make_shared<testing::NiceMock<Testing::MockJobServant>>();
  ON_CALL(*LServant, IsJobStartAllowed(testing::_)).WillByDefault([&](const TJobPtr& AJob) {
    if (!LFaults.Hit(TFaults::Servant, 0.05)) return true;
    LLog.Hit(AJob->GetIdentifier());
    if (LFaults.Draw(0, 1) == 0) throw std::runtime_error("servant failed");
    throw TNotAStdException();
  });
  LHost.Servant = LServant;
  LHost.StorageManager = std::make_shared<TFlakyStorageManager>(LFaults);
  LHost.QueueSaver = std::make_shared<TFlakySaver>(LFaults);
  LHost.ListSaver = std::make_shared<TFlakySaver>(LFaults);
  TEngine LEngine(LHost, LSource);
  LEngine.Dispatcher->GetOnJobDropped().Add([&](const TJobPtr& AJob) { LLog.Dropped(AJob->GetIdentifier()); });

  const TDateTime LStart = Now();
  LEngine.Service->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  // Host threads live on the clock too: each adds its manual jobs at random moments of the day.
  std::vector<std::thread> LHosts;
  for (int H = 0; H < CHosts; ++H)
    LHosts.push_back(
        LEngine.AddManualJobs(H, CManualJobsPerHost, [&] { Clock().SleepMs(60000LL * LFaults.Draw(1, 17)); }));
  std::atomic<bool> LPassDone{false};
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
  EXPECT_LE(LStopTook, std::chrono::seconds(1));

  for (int H = 0; H < CHosts; ++H)
    for (int I = 0; I < CManualJobsPerHost; ++I) {
      const std::string LId = ManualId(H, I);
      EXPECT_TRUE(!LLog.Runs(LId).empty() || LLog.WasDropped(LId)) << LId << " neither ran nor was dropped";
      // The waiting pass schedules beside the main loop: neither may queue a job the other moved.
      EXPECT_LE(LLog.Runs(LId).size(), 1u) << LId << " ran twice";
    }
  for (int I = 0; I < CIntervalJobs; ++I) {
    const std::string LId = "interval-" + std::to_string(I);
    std::vector<TDateTime> LTimes = LLog.Runs(LId);
    LTimes.push_back(LEnd);
    TDateTime LPrevious = LStart;
    for (TDateTime LTime : LTimes) {
      EXPECT_TRUE(LTime <= IncSeconds(LPrevious, CMaxGapSeconds) || LLog.HitBetween(LId, LPrevious, LTime))
          << LId << " missed the interval after " << DateTimeToDisplay(LPrevious);
      LPrevious = LTime;
    }
  }
  const char* CKindNames[] = {"servant", "task (std)", "task (other)", "saver", "storage manager"};
  for (int LKind = 0; LKind < TFaults::KindCount; ++LKind)
    EXPECT_GE(LFaults.Count(static_cast<TFaults::TKind>(LKind)), 20) << CKindNames[LKind];
}

}  // namespace
}  // namespace Orvane
