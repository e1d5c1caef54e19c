#include <gmock/gmock.h>

#include <optional>
#include <random>
#include <thread>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobScheduler.h"
#include "JobManagement/JobService/JobService.Factory.h"
#include "JobManagement/JobService/JobService.h"
#include "JobServices/AgentTask/ContainerRegistration.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/RecordingJobStorage.h"
#include "Support/RecordingPool.h"
#include "Support/ServiceMocks.h"
#include "Support/TempDir.h"
#include "Support/TestConditions.h"

namespace Orvane::Testing {
namespace {

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;
using TStrings = std::vector<std::string>;

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
  TStrings Queued() { return Identifiers(FQueue->CreateSnapshot()); }
  void MakeService(std::shared_ptr<IJobServant> AServant = nullptr,
                   std::shared_ptr<IJobDispatcher> ADispatcher = nullptr) {
    if (!ADispatcher) ADispatcher = std::make_shared<TJobDispatcher>(FQueue, FPool, AServant, FProvider);
    FService = std::make_shared<TJobService>(ADispatcher, FScheduler, FProvider, FPool, AServant, FQueue,
                                             FRunInfo, 60);
  }

  TManualClockScope FClock;
  TLogCapture FLog;
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  std::shared_ptr<TJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(FSaver, nullptr);
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

// The content id is the agent task id; a job without one has its identifier as the content id.
TJobPtr MakeJob(const std::string& AId, bool AManual = false, int AOrder = 0, const std::string& ATask = "") {
  return NewJob(
      AId, {.Task = ATask, .Manual = AManual, .Order = AOrder, .Due = EncodeDateTime(2026, 3, 2, 9, 0, 0)});
}

// The service's fixture, with the dispatcher on its own.
class JobDispatcherTest : public JobServiceTest {
protected:
  std::shared_ptr<TJobDispatcher> MakeDispatcher(int32_t ALimit, std::shared_ptr<IJobServant> AServant) {
    FPool = std::make_shared<TRecordingPool>(ALimit);
    auto LDispatcher = std::make_shared<TJobDispatcher>(FQueue, FPool, std::move(AServant), FProvider);
    LDispatcher->GetOnJobDropped().Add([this](const TJobPtr& AJob) { FDropped.push_back(AJob); });
    return LDispatcher;
  }
  std::vector<TJobPtr> FDropped;
};

TEST_F(JobDispatcherTest, JobsRunUntilNoProcessorIsFreeAndTheRestStaysQueued) {
  auto LDispatcher = MakeDispatcher(2, nullptr);
  for (const char* LId : {"A", "B", "C"}) FQueue->EnqueueJob(MakeJob(LId, false, LId[0]));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 2);
  ASSERT_EQ(Identifiers(FPool->Started()), (TStrings{"A", "B"}));
  EXPECT_EQ(FPool->Started()[0]->GetNextExecution(), CNoDateTime);
  EXPECT_EQ(Queued(), TStrings{"C"});
}

// Only a job that must run alone is checked again before it starts.
TEST_F(JobDispatcherTest, JobWhoseConditionNoLongerHoldsIsDroppedAndAManualOneGoesBackToTheList) {
  auto LDispatcher = MakeDispatcher(10, nullptr);
  for (const char* LId : {"scheduled", "manual", "parallel"}) {
    auto LJob = MakeJob(LId, LId[0] == 'm');
    LJob->SetCanRunParallel(LId[0] == 'p');
    auto LCondition = FixedCondition(CNoDateTime);
    LCondition->ReEvaluate = true;
    LJob->GetStartCondition()->AddCondition(LCondition);
    FQueue->EnqueueJob(LJob);
  }
  EXPECT_EQ(LDispatcher->ProcessQueue(), 1);
  EXPECT_EQ(Identifiers(FPool->Started()), TStrings{"parallel"});
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning,
                        "Job is dropped, because it's start condition is not fulfilled anymore"),
            2);
  ASSERT_EQ(FDropped.size(), 2u);
  EXPECT_EQ(FDropped[0]->GetNextExecution(), CNoDateTime);
  // A drop records a drop, not a run.
  EXPECT_EQ(FDropped[0]->GetStartCondition()->GetStorages()->front()->GetLastRun(), CNoDateTime);
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(Identifiers(FProvider->FetchJobList()), TStrings{"manual"});
}

TEST_F(JobDispatcherTest, SystemShutdownEndsTheCallAtTheFirstJobAndPutsOnlyAManualOneBack) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  EXPECT_CALL(*FServant, GetIsSystemShutdownInProgress()).WillRepeatedly(Return(true));
  FQueue->EnqueueJob(MakeJob("manual", true));
  FQueue->EnqueueJob(MakeJob("scheduled", false));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 0);
  EXPECT_EQ(Queued(), (TStrings{"scheduled", "manual"}));
  FQueue->RemoveJob(FQueue->PeekNextJob());
  EXPECT_EQ(LDispatcher->ProcessQueue(), 0);
  EXPECT_TRUE(Queued().empty());
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning,
                             "System shutdown is in progress. Enqueue the job again and do not run it now"));
}

TEST_F(JobDispatcherTest, PendingRebootSkipsRefusedJobsAndStillDispatchesTheAllowedOnes) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  EXPECT_CALL(*FServant, IsJobStartDuringRebootAllowed(_)).WillRepeatedly([](const std::string& AContentId) {
    return AContentId == "allowed";
  });
  FQueue->EnqueueJob(MakeJob("manual-1", true));
  FQueue->EnqueueJob(MakeJob("manual-2", true));
  FQueue->EnqueueJob(MakeJob("scheduled", false, 1));
  FQueue->EnqueueJob(MakeJob("allowed", false, 2));
  // Two refused manual jobs do not keep the call going round: it ends.
  EXPECT_EQ(LDispatcher->ProcessQueue(), 1);
  EXPECT_EQ(Identifiers(FPool->Started()), TStrings{"allowed"});
  EXPECT_EQ(Queued(), (TStrings{"manual-1", "manual-2"}));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning,
                        "Job is skipped, because an agent restart or a reboot is requested"),
            3);
}

TEST_F(JobDispatcherTest, JobRefusedByTheServantGoesBackAndItsProcessorIsReleasedQuietly) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  EXPECT_CALL(*FServant, IsJobStartAllowed(_)).WillOnce(Return(false));
  int LDone = 0;
  FPool->GetOnJobDone().Add([&](const TJobPtr&) { ++LDone; });
  FQueue->EnqueueJob(MakeJob("A", false, 1));
  FQueue->EnqueueJob(MakeJob("B", false, 2));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 0);
  EXPECT_EQ(Queued(), (TStrings{"B", "A"}));  // B was never looked at
  EXPECT_EQ(LDone, 0);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
}

TEST_F(JobDispatcherTest, FailedHandOverIsRolledBackAndTheThirdInARowDropsTheJob) {
  auto LDispatcher = MakeDispatcher(10, FServant);
  int LFailingStep = 0;  // 1: an after-request handler, 2: the servant, 3: the processor's start
  FPool->GetOnAfterRequestProcessor().Add([&](const TJobPtr&) {
    if (LFailingStep == 1) throw std::runtime_error("handler failed");
  });
  EXPECT_CALL(*FServant, IsJobStartAllowed(_)).WillRepeatedly([&](const TJobPtr&) {
    if (LFailingStep == 2) throw 42;
    return true;
  });
  FPool->OnProcessJob = [&](const TJobPtr& AJob) {
    if (LFailingStep == 3 && AJob->GetIdentifier() == "poison") throw std::runtime_error("no thread");
  };
  int LDone = 0;
  FPool->GetOnJobDone().Add([&](const TJobPtr&) { ++LDone; });
  const TJobPtr LPoison = MakeJob("poison", false, 1);
  const TDateTime LDue = LPoison->GetNextExecution();
  for (LFailingStep = 1; LFailingStep <= 2; ++LFailingStep) {
    FQueue->EnqueueJob(LPoison);  // as the scheduler queues it again
    EXPECT_ANY_THROW(LDispatcher->ProcessQueue());
    EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
    EXPECT_EQ(LPoison->GetExecState(), TJobExecState::Idle);
    EXPECT_EQ(LPoison->GetNextExecution(), LDue);
    EXPECT_TRUE(FDropped.empty());
  }
  // The third failure in a row drops the job, and the call goes on with the next one.
  FQueue->EnqueueJob(LPoison);
  FQueue->EnqueueJob(MakeJob("next", false, 2));
  EXPECT_EQ(LDispatcher->ProcessQueue(), 1);
  EXPECT_EQ(FDropped, std::vector<TJobPtr>{LPoison});
  EXPECT_EQ(LPoison->GetNextExecution(), CNoDateTime);
  ASSERT_EQ(FPool->Started().size(), 1u);
  EXPECT_EQ(FPool->Started()[0]->GetIdentifier(), "next");
  EXPECT_EQ(FPool->GetRunningJobsCount(), 1);
  EXPECT_EQ(LDone, 0);
}

constexpr double CMinute = 1.0 / 24 / 60;

class TFailingCondition : public TFixedCondition {
public:
  std::string ClassName() const override { return "TFailingCondition"; }
  TDateTime CalcNextExecution(TDateTime, TStartConditionStorage&) override {
    throw EInvalidOperation("The condition cannot be evaluated");
  }
};
const TClassRegistration<TFailingCondition> GFailingConditionRegistration("TFailingCondition",
                                                                          "TFixedCondition");

// A job of the agent task "{<id>}" unless ATaskId names another, with at most one condition.
TJobPtr ConditionJob(const std::string& AId, std::shared_ptr<TStartCondition> ACondition,
                     TDateTime ADue = CNoDateTime, const std::string& ATaskId = "") {
  return NewJob(AId,
                {.Task = ATaskId.empty() ? "{" + AId + "}" : ATaskId, .Due = ADue, .Condition = ACondition});
}

class JobSchedulerTest : public ::testing::Test {
protected:
  // The provider's own objects for the automatic jobs of ASource.
  TJobList LoadAutoJobs(TJobList ASource) {
    FProvider->Source = std::move(ASource);
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TDateTime MinutesFromNow(double AMinutes) { return Now() + AMinutes * CMinute; }
  int32_t Pass(TConditions AConditions = CAllConditions) { return FScheduler->UpdateQueue(AConditions); }
  TStrings Queued() { return Identifiers(FQueue->CreateSnapshot()); }
  TStrings Listed() { return Identifiers(FProvider->FetchJobList()); }

  TManualClockScope FClock;
  TLogCapture FLog;
  std::shared_ptr<TJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  std::shared_ptr<TScriptedJobListProvider> FProvider =
      std::make_shared<TScriptedJobListProvider>(nullptr, nullptr, nullptr, nullptr, "JobSchedulerTest");
  std::shared_ptr<NiceMock<MockJobServant>> FServant = std::make_shared<NiceMock<MockJobServant>>();
  std::shared_ptr<TJobScheduler> FScheduler = std::make_shared<TJobScheduler>(FProvider, FQueue, FServant);
};

TEST_F(JobSchedulerTest, PassQueuesWhatIsDueAtItsMomentAndLeavesTheRestForALaterPass) {
  const TDateTime LDueSince = MinutesFromNow(-1), LInOneHour = MinutesFromNow(60);
  const TJobList LAuto = LoadAutoJobs({ConditionJob("due", FixedCondition(LDueSince)),
                                       ConditionJob("running", FixedCondition(LDueSince)),
                                       ConditionJob("later", FixedCondition(LInOneHour))});
  ASSERT_EQ(Identifiers(LAuto), (TStrings{"due", "running", "later"}));
  LAuto[1]->SetExecState(TJobExecState::Running);
  // A due time in the future is kept, and the job's condition is not asked.
  FProvider->AddManualJob(ConditionJob("in-an-hour", std::make_shared<TFailingCondition>(), LInOneHour));
  // Of two due manual jobs of one task the queue takes the first; the other stays in the list.
  FProvider->AddManualJob(ConditionJob("first", nullptr, Now(), "{TASK}"));
  FProvider->AddManualJob(ConditionJob("second", nullptr, Now(), "{TASK}"));
  const TJobPtr LNoAction = ConditionJob("no-action", nullptr, Now()),
                LNoTask = ConditionJob("no-task", nullptr, Now());
  LNoAction->SetJobAction(nullptr);
  std::static_pointer_cast<TScannerJobAction>(LNoTask->GetJobAction())->AgentTaskId.clear();
  FProvider->AddManualJob(LNoAction);
  FProvider->AddManualJob(LNoTask);

  EXPECT_EQ(Pass(), 2);
  EXPECT_EQ(Queued(), (TStrings{"first", "due"}));
  EXPECT_EQ(Listed(), (TStrings{"in-an-hour", "second", "no-action", "no-task", "due", "running", "later"}));
  EXPECT_EQ(FProvider->FetchJobList().front()->GetNextExecution(), LInOneHour);
  EXPECT_EQ(LAuto[0]->GetNextExecution(), LDueSince);
  EXPECT_EQ(LAuto[1]->GetNextExecution(), CNoDateTime);
  Clock().AdvanceSeconds(3600);
  EXPECT_EQ(Pass(), 2);
  EXPECT_EQ(Queued(), (TStrings{"first", "due", "in-an-hour", "later"}));
}

TEST_F(JobSchedulerTest, JobRefusedDuringARebootIsSkippedAndKeepsItsDueTime) {
  const TDateTime LDueSince = MinutesFromNow(-1);
  const TJobPtr LJob = LoadAutoJobs({ConditionJob("a", FixedCondition(LDueSince))}).front();
  EXPECT_CALL(*FServant, IsJobStartDuringRebootAllowed("{a}")).WillOnce(Return(false));
  EXPECT_EQ(Pass(), 0);
  EXPECT_TRUE(Queued().empty());
  EXPECT_EQ(LJob->GetNextExecution(), LDueSince);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning,
                             "Job is skipped, because a reboot or agent restart is requested"));
}

TEST_F(JobSchedulerTest, FailingStartConditionEndsThePassWithTheJobsQueuedSoFar) {
  FProvider->AddManualJob(ConditionJob("first", FixedCondition(MinutesFromNow(-1))));
  FProvider->AddManualJob(ConditionJob("faulty", std::make_shared<TFailingCondition>()));
  FProvider->AddManualJob(ConditionJob("third", FixedCondition(MinutesFromNow(-1))));
  EXPECT_EQ(Pass(), 1);
  const int LFailure = FLog->IndexOf(TLogEntryKind::Exception, "The condition cannot be evaluated");
  ASSERT_GE(LFailure, 0);
  EXPECT_EQ(FLog->Entries()[LFailure].Value, "TJobScheduler.UpdateQueue");
  EXPECT_EQ(Listed(), (TStrings{"faulty", "third"}));
}

using JobQueueTest = JobServiceTest;

// Each row: the job that must leave first, whichever was added first, and why.
TEST_F(JobQueueTest, EachPriorityRuleDecidesOnlyWhenTheRulesBeforeItTie) {
  struct TKeys {
    bool IsManual = false;
    TDateTime Due = CNoDateTime;
    int32_t Order = 0, QueueIndex = 0;
  };
  constexpr double CHalfMillisecond = 0.0005 / CSecondsPerDay;
  const struct {
    TKeys First, Second;
    const char* Why;
  } LRows[] = {
      {{.IsManual = true}, {.Due = 100.0}, "manual beats an earlier due time"},
      {{.Due = 200.0, .Order = 9}, {.Order = -5}, "a due time beats none"},
      {{.Due = 100.0, .Order = 9}, {.Due = 100.1}, "the earlier due time beats Order"},
      {{.Due = 100.0 + CHalfMillisecond, .Order = 1},
       {.Due = 100.0, .Order = 2},
       "due times under 1 ms apart tie"},
      {{.Order = -1, .QueueIndex = 7}, {}, "two without a due time go by Order"},
      {{.Due = 100.0, .Order = 3, .QueueIndex = -2},
       {.Due = 100.0, .Order = 3, .QueueIndex = 1},
       "then QueueIndex"},
      {{.IsManual = true, .Due = 50.0}, {.IsManual = true}, "two manual jobs go by due time"},
  };
  for (const auto& LRow : LRows)
    for (const bool LFirstAddedFirst : {true, false}) {
      TJobQueue<> LQueue(nullptr, nullptr);
      for (const bool LFirst : {LFirstAddedFirst, !LFirstAddedFirst}) {
        const TKeys& LKeys = LFirst ? LRow.First : LRow.Second;
        const TJobPtr LJob = MakeJob(LFirst ? "first" : "second", LKeys.IsManual);
        LJob->SetNextExecution(LKeys.Due);
        LJob->SetOrder(LKeys.Order);
        LJob->SetQueueIndex(LKeys.QueueIndex);
        LQueue.EnqueueJob(LJob);
      }
      EXPECT_EQ(LQueue.PeekNextJob()->GetIdentifier(), "first") << LRow.Why;
    }
  // A full tie keeps the order of addition.
  for (const char* LId : {"tie-a", "tie-b"}) {
    const TJobPtr LJob = MakeJob(LId, true);
    LJob->SetQueueIndex(3);
    FQueue->EnqueueJob(LJob);
  }
  EXPECT_EQ(FQueue->PeekNextJob()->GetIdentifier(), "tie-a");
}

// By identity: the caller's original of a queued manual copy, or a job list's job that shares an
// identifier with a manual one, is another job.
TEST_F(JobQueueTest, RemoveAndDequeueTakeOutThatVeryJob) {
  const TJobPtr LScheduled = MakeJob("same", false, 0, "{SCAN}"),
                LManual = MakeJob("SAME", true, 0, "{OTHER}");
  FQueue->EnqueueJob(LScheduled);
  FQueue->EnqueueJob(LManual);
  FSaver->Clear();
  FQueue->RemoveJob(LManual);
  EXPECT_EQ(FSaver->SaveCount(), 0);
  EXPECT_FALSE(FQueue->EnqueueJob(MakeJob("again", false, 0, "{OTHER}")));
  FQueue->RemoveJob(LScheduled);
  EXPECT_EQ(FSaver->Saves(), (std::vector<TStrings>{{"SAME"}}));
  FQueue->RemoveJob(LScheduled);
  EXPECT_EQ(FSaver->SaveCount(), 1) << "a job no longer queued is not saved for";
  EXPECT_TRUE(FQueue->EnqueueJob(LScheduled)) << "its content id is free again";
  EXPECT_EQ(FQueue->DequeueNextJob()->GetContentId(), "{OTHER}");
  EXPECT_EQ(Queued(), TStrings{"same"});
}

// A manual job leaves the saved file when its run ends, not when it is dequeued: a crash during the
// run brings it back. Put back, it is queued again; its run is known by its execution id.
TEST_F(JobQueueTest, ADequeuedManualJobIsSavedUntilItsRunEnds) {
  const TJobPtr LRun = MakeJob("run", true, 0, "{RUN}");
  LRun->GetJobAction()->ExecutionId = "{E1}";
  FQueue->EnqueueJob(LRun);
  FQueue->EnqueueJob(MakeJob("back", true, 0, "{BACK}"));
  const TJobPtr LDequeued = FQueue->DequeueNextJob();
  const TJobPtr LPutBack = FQueue->DequeueNextJob();
  EXPECT_EQ(FSaver->LastSave(), (TStrings{"run", "back"}));
  EXPECT_EQ(Queued(), TStrings{});
  EXPECT_TRUE(FQueue->HoldsManualJob(*LRun));
  EXPECT_FALSE(FQueue->HoldsManualJob(*MakeJob("run", true, 0, "{RUN}")))
      << "no execution id: a run of its own";
  FQueue->EnqueueJob(LPutBack);
  FQueue->RunEnded(LDequeued);
  EXPECT_EQ(FSaver->LastSave(), TStrings{"back"});
  EXPECT_FALSE(FQueue->HoldsManualJob(*LRun));
}

// The job list as the scheduler hands it over, counting the queue's walks over it; ABroken fails them.
IEnumerable<TJobPtr> Counted(TJobList AJobs, int& AWalks, bool ABroken = false) {
  return IEnumerable<TJobPtr>([LJobs = std::make_shared<TJobList>(std::move(AJobs)), &AWalks, ABroken] {
    ++AWalks;
    return IEnumerable<TJobPtr>::TEnumerator(
        [LJobs, ABroken, LIndex = std::size_t{0}]() mutable -> std::optional<TJobPtr> {
          if (ABroken) throw EInvalidOperation("job list is gone");
          if (LIndex >= LJobs->size()) return std::nullopt;
          return (*LJobs)[LIndex++];
        });
  });
}

// The queue holds a few jobs and the list thousands: the list is walked once to find the queued
// objects, and searched by identifier only for a queued job that is not among them.
TEST_F(JobQueueTest, SyncWalksTheListOnlyAsFarAsTheQueuedScheduledJobsNeedAndDropsWhatLeftIt) {
  const TJobPtr LSame = MakeJob("same");
  FQueue->EnqueueJob(MakeJob("manual", true));
  int LWalks = 0;
  FQueue->SyncQueue(Counted({LSame}, LWalks));
  EXPECT_EQ(LWalks, 0);
  FQueue->EnqueueJob(LSame);
  FQueue->SyncQueue(Counted({MakeJob("other"), LSame}, LWalks));
  EXPECT_EQ(LWalks, 1);
  // A newer object of the same identifier (a reloaded list) keeps the queued one as well.
  LWalks = 0;
  FQueue->SyncQueue(Counted({MakeJob("same")}, LWalks));
  EXPECT_EQ(LWalks, 2);
  EXPECT_EQ(Queued(), (TStrings{"manual", "same"}));
  // A list that cannot be read is logged and keeps the queue.
  FQueue->SyncQueue(Counted({}, LWalks, true));
  EXPECT_EQ(Queued(), (TStrings{"manual", "same"}));
  EXPECT_EQ(FLog->Entries().at(FLog->IndexOf(TLogEntryKind::Exception, "job list is gone")).Value,
            "TJobQueue.SyncQueue");

  const TJobPtr LGone = MakeJob("gone");
  FQueue->EnqueueJob(LGone);
  FQueue->SyncQueue(Counted({LSame}, LWalks));
  EXPECT_EQ(Queued(), (TStrings{"manual", "same"}));
  EXPECT_EQ(LGone->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(LSame->GetExecState(), TJobExecState::Queued);
  EXPECT_TRUE(FQueue->EnqueueJob(MakeJob("gone"))) << "content id freed";
}

}  // namespace
}  // namespace Orvane::Testing
