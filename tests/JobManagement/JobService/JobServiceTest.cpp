#include <gmock/gmock.h>

#include <random>
#include <thread>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobService.Factory.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/ContainerRegistration.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"
#include "Support/RecordingPool.h"
#include "Support/ServiceMocks.h"
#include "Support/TempDir.h"

namespace Orvane::Testing {
namespace {

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

// Its "file" is the number of runs recorded when it was last saved: what a kill would leave.
class TRunRecordingProvider : public TFakeJobListProvider {
public:
  void SaveConditionStorages() override {
    ++FStorageSaves;
    RunsOnDisk = RunsDone.load();
  }
  std::atomic<int> RunsDone{0};
  std::atomic<int> RunsOnDisk{0};
};

// The service with a scripted scheduler and servant around a real dispatcher, queue and pool whose
// processors run nothing until the test finishes them.
class JobServiceTest : public ::testing::Test {
protected:
  void SetUp() override {
    ON_CALL(*FScheduler, UpdateQueue(_)).WillByDefault([this](TConditions) { return ++FTurns, 0; });
  }
  void TearDown() override {
    if (FService) FService->Stop();
  }
  void Start() {
    if (!FService) MakeService();
    FService->StartAsync(TThreadPriority::tpNormal);
    Clock().WaitForSleepers(1);
  }
  // A run ends, as a processor's release announces it; then the loop settles.
  void RunEnds() {
    ++FProvider->RunsDone;
    FPool->GetOnJobDone().Invoke(FJob);
    Clock().WaitForSleepers(1);
  }
  int Saves() const { return FProvider->FStorageSaves; }
  void MakeService(std::shared_ptr<IJobServant> AServant = nullptr,
                   std::shared_ptr<IJobDispatcher> ADispatcher = nullptr) {
    if (!ADispatcher) ADispatcher = std::make_shared<TJobDispatcher>(FQueue, FPool, AServant, FProvider);
    FService = std::make_shared<TJobService>(ADispatcher, FScheduler, FProvider, FPool, AServant, FQueue,
                                             FRunInfo, 60);
  }

  TManualClockScope FClock;
  TLogCapture FLog;
  std::shared_ptr<TJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  std::shared_ptr<TRunRecordingProvider> FProvider = std::make_shared<TRunRecordingProvider>();
  std::shared_ptr<TRecordingPool> FPool = std::make_shared<TRecordingPool>(100);
  std::shared_ptr<NiceMock<MockJobScheduler>> FScheduler = std::make_shared<NiceMock<MockJobScheduler>>();
  std::shared_ptr<NiceMock<MockJobServant>> FServant = std::make_shared<NiceMock<MockJobServant>>();
  TSystemRunInfoPtr FRunInfo = std::make_shared<TSystemRunInfo>();
  std::atomic<int> FTurns{0};
  TJobPtr FJob = std::make_shared<TJob>();
  std::shared_ptr<TJobService> FService;
};

TEST_F(JobServiceTest, DeniedStartWaitsFiveMinutesUntilAnAllowedStartCutsItBackFromThen) {
  auto LDispatcher = std::make_shared<NiceMock<MockJobDispatcher>>();
  ON_CALL(*LDispatcher, ProcessQueue()).WillByDefault([&] {
    FServant->FDenied.Invoke(nullptr);  // the servant refuses a job during the turn's dispatch
    return 0;
  });
  MakeService(FServant, LDispatcher);
  Start();
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning,
                             "System will wait five minutes before the next job will be started"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Changed time out to 300 seconds"));
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  Clock().AdvanceSeconds(100);
  FServant->FAllowed.Invoke(nullptr);  // back to 60 seconds, counted from now
  Clock().AdvanceSeconds(59);
  EXPECT_EQ(FTurns, 1);
  Clock().AdvanceSeconds(1);
  EXPECT_EQ(FTurns, 2);
}

TEST_F(JobServiceTest, WaitingPassEndsWhenItsJobsCanNoLongerFinish) {
  MakeService();
  EXPECT_CALL(*FScheduler, UpdateQueue(_)).WillOnce(Return(3));  // counted, but nothing was queued
  std::atomic<int> LCount{0}, LIdle{0};
  std::thread LPass([&] {
    FService->RunAndWaitForJobs([&](int32_t A) { LCount = A; }, [&](TOrvaneObject*) { ++LIdle; }, false,
                                CAllConditions);
  });
  Clock().WaitForSleepers(2);
  Clock().AdvanceSeconds(1);  // one idle step: nothing runs, nothing is left to dispatch
  LPass.join();
  EXPECT_EQ(LCount, 3);
  EXPECT_EQ(LIdle, 1);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning, "Waiting pass ends"));
}

TEST_F(JobServiceTest, WaitingPassEndsWhenADispatchAfterAJobFailsWithAnyException) {
  FPool = std::make_shared<TRecordingPool>(1);  // one job at a time: B waits for A
  MakeService(FServant);
  const TJobPtr LA = NewJob("A"), LB = NewJob("B");
  EXPECT_CALL(*FScheduler, UpdateQueue(CAllConditions)).WillOnce([&](TConditions) {
    FQueue->EnqueueJob(LA);
    FQueue->EnqueueJob(LB);
    return 2;
  });
  EXPECT_CALL(*FServant, IsJobStartAllowed(_)).WillRepeatedly([](const TJobPtr& AJob) {
    if (AJob->GetIdentifier() == "B") throw 42;
    return true;
  });
  std::atomic<bool> LGiveUp{false};
  ON_CALL(*FServant, IsRebootRequested()).WillByDefault([&] { return LGiveUp.load(); });
  std::atomic<bool> LPassEnded{false};
  std::thread LPass([&] {
    FService->RunAndWaitForJobs(nullptr, nullptr, false, CAllConditions);
    LPassEnded = true;
  });
  Clock().WaitForSleepers(2);  // the pass and the idle task processor
  FPool->Finish(LA);           // the dispatch that follows fails on B
  Clock().WaitForSleepers(0);
  EXPECT_TRUE(LPassEnded);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Error, "Aborting all remaining jobs"));
  LGiveUp = true;  // ends a pass that kept waiting
  Clock().AdvanceSeconds(1);
  LPass.join();
}

// Finished jobs mark the condition storages dirty; the service saves them at most once a second and
// at every stop, so a crash loses at most the last second's runs.
using ConditionSaveThrottleTest = JobServiceTest;

TEST_F(ConditionSaveThrottleTest, StopSavesWhatIsDirtyAndRunsAfterTheLoopEndedSaveAtOnce) {
  Start();
  RunEnds();
  Clock().AdvanceMs(200);
  RunEnds();
  ASSERT_EQ(Saves(), 1);
  FService->Stop();
  EXPECT_EQ(Saves(), 2);
  EXPECT_EQ(FProvider->RunsOnDisk, 2);
  // A job that ends while the agent stops (the loop is gone) is saved with its end.
  ++FProvider->RunsDone;
  FPool->GetOnJobDone().Invoke(FJob);
  EXPECT_EQ(FProvider->RunsOnDisk, 3);
}

// The file a kill would leave at any moment holds every run that ended more than a second before.
TEST_F(ConditionSaveThrottleTest, AKillAtAnyMomentLosesAtMostTheLastSecondsRuns) {
  Start();
  std::mt19937 LRandom(7);
  std::vector<std::pair<TMonoTime, int>> LEnds;  // when each run ended, and the runs done by then
  for (int LStep = 0; LStep < 400; ++LStep) {
    const int LRuns = std::uniform_int_distribution<int>(0, 3)(LRandom);
    for (int I = 0; I < LRuns; ++I) {
      RunEnds();
      LEnds.emplace_back(Clock().Monotonic(), FProvider->RunsDone.load());
    }
    Clock().AdvanceMs(std::uniform_int_distribution<int>(1, 300)(LRandom));
    const TMonoTime LSecondAgo = Clock().Monotonic() - std::chrono::seconds(1);
    int LOwed = 0;
    for (const auto& [LWhen, LDone] : LEnds)
      if (LWhen <= LSecondAgo) LOwed = LDone;
    ASSERT_GE(FProvider->RunsOnDisk, LOwed) << "step " << LStep;
  }
  EXPECT_LT(Saves(), FProvider->RunsDone / 2) << "far fewer saves than runs";
  Clock().AdvanceSeconds(1);
  EXPECT_EQ(FProvider->RunsOnDisk, FProvider->RunsDone);
  const int LSaves = Saves();
  Clock().AdvanceSeconds(10);
  EXPECT_EQ(Saves(), LSaves) << "nothing dirty, nothing written";
}

// The factory makes the storage directory that the service's queue file goes to; a directory that
// cannot be made raises instead of giving a service that would lose every queued job.
TEST_F(JobServiceTest, FactoryBuildsTheServiceInANewStorageDirectoryAndOneThatCannotBeMadeRaises) {
  struct TFixedPath : IJobStoragePathProvider<> {
    explicit TFixedPath(std::string APath) : Path(std::move(APath)) {}
    std::string GetStoragePath() override { return Path; }
    std::string Path;
  };
  TTempDir LDir;
  const std::string LStorage = LDir.Path() + "/a/b/AgentTasks";
  TJobServiceFactory<> LFactory(FProvider, FPool, std::make_shared<TFixedPath>(LStorage), nullptr);
  EXPECT_EQ(LFactory.CreateJobService(5)->GetStartDelayInSeconds(), 5);
  EXPECT_TRUE(DirectoryExists(LStorage));
  TJobServiceFactory<> LFailing(FProvider, FPool, std::make_shared<TFixedPath>("/proc/orvane/none"), nullptr);
  EXPECT_THROW(LFailing.CreateJobService(), EFileError);
}

// Loading the module must not fail for a registration error: it is logged, and the host finds the
// service missing.
TEST(ModuleRegistrationTest, ARegistrationFailureAtModuleLoadIsLoggedNotRaised) {
  TLogCapture LLog;
  TContainer LContainer;
  // A registration that names no service makes every Build of this container fail.
  LContainer.RegisterType<TTempDir>([] { return std::make_shared<TTempDir>(); });
  EXPECT_FALSE(RegisterTypesAtModuleLoad(LContainer));
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Exception));
  EXPECT_THROW(LContainer.Resolve<IJobService>("AgentTasks"), EContainerError);
}

TEST(JobServiceConstructionTest, NilPoolFailsConstructionAndLeavesNoHandlerBehind) {
  auto LProvider = std::make_shared<TFakeJobListProvider>();
  EXPECT_THROW(TJobService(nullptr, nullptr, LProvider, nullptr, nullptr, nullptr, nullptr, 60),
               EInvalidPointer);
  EXPECT_EQ(LProvider->FManualChanged.Count(), 0u);
}

}  // namespace
}  // namespace Orvane::Testing
