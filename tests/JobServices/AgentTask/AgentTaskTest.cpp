#include <gmock/gmock.h>

#include <atomic>
#include <cerrno>
#include <future>
#include <optional>
#include <thread>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobServices/AgentTask/ClientCommandScannerCommand.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobListProvider.Client.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/RestartAgentCommand.h"
#include "JobServices/AgentTask/ScannerResources.h"
#include "JobServices/AgentTask/SettingsWatchCommand.h"
#include "OrvaneClientShared/WumJobListProvider.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Container/ContainerTypes.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/HostMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/TaskMocks.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using Testing::Identifiers;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

const std::string CTaskA = "{B3A5474A-E933-4CC0-8567-C80F6591AC19}";
const std::string CTaskB = "{072BE601-5372-4618-9A6D-2571D230278E}";

const TContinueCheck CGoOn = [] { return true; };

class DispatcherTest : public ::testing::Test {
protected:
  void SetUp() override {
    FTasks.Add(FTaskA);
    FTasks.Add(FTaskB);
  }
  bool Start(const std::string& AId) { return FDispatcher.StartScanner(Testing::ScannerAction(AId), CGoOn); }

  Testing::TLogCapture FLog;
  std::shared_ptr<StrictMock<Testing::MockAgentTask>> FTaskA = Testing::StrictTask(CTaskA);
  std::shared_ptr<StrictMock<Testing::MockAgentTask>> FTaskB = Testing::StrictTask(CTaskB);
  Testing::TCountingTaskSequence FTasks;
  TAgentTaskDispatcher FDispatcher{TClientId{"client-7"}, FTasks.AsLazy()};
};

// A miss caches nothing: an id is searched for again each time, and a task registered later is
// found. An empty id is never searched for.
TEST_F(DispatcherTest, UnknownEmptyOrMiscasedIdIsLoggedAndRunsNothing) {
  const std::string LLowerCase = "{b3a5474a-e933-4cc0-8567-c80f6591ac19}";
  const std::string LLate = "{618CA3BE-5F82-4C99-AB31-254E81096110}";
  EXPECT_FALSE(Start(""));
  EXPECT_FALSE(Start(LLowerCase));
  EXPECT_FALSE(FDispatcher.ScanOnly(LLate, Testing::ScannerAction(CTaskA), "/tmp/out"));
  EXPECT_EQ(FTasks.Walks(), 2);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "No agent task found with id: [" + LLowerCase + "]"));
  auto LLateTask = Testing::StrictTask(LLate);
  FTasks.Add(LLateTask);
  EXPECT_CALL(*LLateTask, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(Start(LLate));
}

TEST_F(DispatcherTest, StartScannerWithAJobRunsTheTaskOfItsScannerActionAndRefusesOneWithout) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetJobAction(Testing::ScannerAction(CTaskB));
  EXPECT_CALL(*FTaskB, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(LJob, CGoOn));
  // The job processor logs this as the job's failure.
  for (const std::shared_ptr<TJobAction>& LAction :
       {std::shared_ptr<TJobAction>(), std::make_shared<TJobAction>()}) {
    LJob->SetJobAction(LAction);
    EXPECT_THROW(FDispatcher.StartScanner(LJob, CGoOn), EArgumentException);
  }
}

TEST_F(DispatcherTest, TaskLookingItselfUpWhileTheWalkBuildsItRaisesInsteadOfRecursing) {
  // A walk builds the registered tasks; here the building looks up the very id being walked for.
  bool LLookUpWhileBuilding = true;
  FTasks.SetOnWalk([this, &LLookUpWhileBuilding] {
    if (LLookUpWhileBuilding) Start(CTaskA);
  });
  EXPECT_THROW(Start(CTaskA), EContainerError);
  LLookUpWhileBuilding = false;
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(Start(CTaskA));
}

// A host object that is no job list provider.
class TPlainHostObject : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TPlainHostObject"; }
};

// Each built-in task does its one thing when run and nothing when it only scans. The providers and
// the restart command are strict mocks: a task may call only what the test expects.
TEST(BuiltInTasksTest, EachTaskActsOnlyWhenRun) {
  auto LTaskProvider = std::make_shared<StrictMock<Testing::MockJobListProvider<TScannerJobAction>>>();
  auto LGlobalProvider = std::make_shared<StrictMock<Testing::MockGlobalJobListProvider>>();
  auto LClientProvider = std::make_shared<StrictMock<Testing::MockJobListProvider<TJobAction>>>();
  auto LRestartCommand = std::make_shared<StrictMock<Testing::MockAgentRestartCommand>>();
  const auto Execute = [](IAgentTask& ATask) { return ATask.Execute("client-7", nullptr, CGoOn); };
  int LResolutions = 0;
  TSettingsWatchTask LWatch(LTaskProvider);
  TClientCommandScanner LClientCommands(Lazy<IJobListProvider<TJobAction>>(
      [&] { return ++LResolutions, std::shared_ptr<IJobListProvider<TJobAction>>(LClientProvider); },
      [] { return std::string("the client job list provider"); }));
  TRestartAgentTask LRestart(LRestartCommand);
  SetWumJobListProvider(LGlobalProvider);
  for (IAgentTask* LTask : std::initializer_list<IAgentTask*>{&LWatch, &LClientCommands, &LRestart})
    EXPECT_TRUE(LTask->ScanOnly("", nullptr, CGoOn, "/tmp/out"));
  EXPECT_EQ(LResolutions, 0);
  // The settings watch reloads the host's global provider as well, when that is a job list provider.
  EXPECT_CALL(*LTaskProvider, SetLoadListFromServerOnNextFetch(true)).Times(3);
  EXPECT_CALL(*LGlobalProvider, SetLoadListFromServerOnNextFetch(true));
  EXPECT_TRUE(Execute(LWatch));
  SetWumJobListProvider(std::make_shared<TPlainHostObject>());
  EXPECT_TRUE(Execute(LWatch));
  SetWumJobListProvider(nullptr);
  EXPECT_TRUE(Execute(LWatch));
  // The client provider is resolved at the first run, once.
  EXPECT_CALL(*LClientProvider, SetLoadListFromServerOnNextFetch(true)).Times(2);
  EXPECT_TRUE(Execute(LClientCommands));
  EXPECT_TRUE(Execute(LClientCommands));
  EXPECT_EQ(LResolutions, 1);
  EXPECT_CALL(*LRestartCommand, RestartAgent());
  EXPECT_TRUE(Execute(LRestart));
}

TJobPtr MakeJob(const std::string& AId, bool AManual, const std::string& AExecutionId = "") {
  const TJobPtr LJob = Testing::NewJob(AId, {.Task = AId, .Manual = AManual});
  LJob->GetJobAction()->ExecutionId = AExecutionId;
  return LJob;
}

// The reporter and the agent task dispatcher are strict: a run may report and start only what a
// test expects.
class JobProcessorTest : public ::testing::Test {
protected:
  void SetUp() override {
    FPool->GetOnJobDone().Add([this](const TJobPtr&) { FDone.SetEvent(); });
  }

  // Runs AJob as the dispatcher does, waits until the processor's thread is done and checks that
  // the pool announced the job finished.
  void Run(const TJobPtr& AJob) {
    IJobProcessor<>* LProcessor = FPool->RequestProcessor(AJob);
    ASSERT_NE(LProcessor, nullptr);
    AJob->SetNextExecution(CNoDateTime);
    AJob->SetExecState(TJobExecState::Running);
    LProcessor->ProcessJob(AJob);
    Clock().WaitForSleepers(0);
    ASSERT_EQ(FDone.WaitFor(0), TWaitResult::wrSignaled);
  }

  Testing::TManualClockScope FClock;  // nothing here may wait for time to pass
  Testing::TLogCapture FLog;
  std::shared_ptr<StrictMock<Testing::MockExecStateReporter>> FReporter =
      std::make_shared<StrictMock<Testing::MockExecStateReporter>>();
  std::shared_ptr<StrictMock<Testing::MockAgentTaskDispatcher>> FDispatcher =
      std::make_shared<StrictMock<Testing::MockAgentTaskDispatcher>>();
  std::shared_ptr<TCustomJobProcessorPool<>> FPool = std::make_shared<TAgentTaskJobProcessorPool>(
      FReporter, [this] { return std::make_shared<TAgentTaskJobProcessor>(FDispatcher); });
  TWaitableEvent FDone{false, false};
};

// The base processor, which stamps scheduled jobs with an execution id of their own.
TEST_F(JobProcessorTest, ScheduledJobGetsAFreshExecutionIdEachRunAndAManualJobKeepsItsOwn) {
  struct TPlainProcessor : TCustomJobProcessor<TScannerJobAction>, IAgentTaskJobProcessor {
    ~TPlainProcessor() override { FinishBeforeDestruction(); }
    TJobResult InternalProcessJob() override { return TJobResult::jrSucceeded; }
  };
  FPool = std::make_shared<TAgentTaskJobProcessorPool>(FReporter,
                                                       [] { return std::make_shared<TPlainProcessor>(); });
  FPool->GetOnJobDone().Add([this](const TJobPtr&) { FDone.SetEvent(); });
  std::vector<std::string> LStarted;
  EXPECT_CALL(*FReporter, ReportJobStarted(_, _, ""))
      .WillRepeatedly([&](const std::string& AId, auto&&, auto&&) { return LStarted.push_back(AId), false; });
  EXPECT_CALL(*FReporter, ReportJobFinished(_, _, TJobResult::jrSucceeded, "")).Times(3);
  const TJobPtr LScheduled = MakeJob("S", false);
  Run(LScheduled);
  Run(LScheduled);
  Run(MakeJob("M", true, "{MANUAL-EXECUTION}"));
  ASSERT_EQ(LStarted.size(), 3u);
  EXPECT_EQ(LStarted[0].size(), 38u);
  EXPECT_NE(LStarted[0], LStarted[1]);
  EXPECT_EQ(LStarted[2], "{MANUAL-EXECUTION}");
}

TEST_F(JobProcessorTest,
       AgentTaskJobWithoutExecutionIdRunsUnreportedAndARaisingJobDoneHandlerLeavesItFinished) {
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).WillOnce(Return(true));
  FPool->GetOnJobDone().Add([](const TJobPtr&) { throw std::runtime_error("notifier failed"); });
  const TJobPtr LJob = MakeJob("A", false);
  Run(LJob);
  EXPECT_EQ(LJob->GetJobAction()->ExecutionId, "");
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "No exec state reported"));
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Finished);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "notifier failed"));
}

// A task that raises anything is reported without a result and logged as failed.
TEST_F(JobProcessorTest, TheJobCarriesItsLastRunsResultAndAFailureWhileThePoolStopsIsCutShort) {
  EXPECT_CALL(*FReporter, ReportJobStarted("{E}", "M", "")).Times(4).WillRepeatedly(Return(false));
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _))
      .WillOnce(Return(true))
      .WillOnce(Throw(std::runtime_error("scanner crashed")))
      .WillOnce([](const TJobPtr&, const TContinueCheck&) -> bool { throw 42; })
      .WillOnce(Return(false));
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrSucceeded, ""));
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrNoResult, "")).Times(2);
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrCutShort, ""));
  const TJobPtr LJob = MakeJob("M", true, "{E}");
  Run(LJob);
  EXPECT_EQ(LJob->GetLastResult(), TJobResult::jrSucceeded);
  Run(LJob);  // a run that raised leaves no result, not the one before
  EXPECT_EQ(LJob->GetLastResult(), TJobResult::jrNoResult);
  Run(LJob);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "scanner crashed"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "Unknown exception"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Failed job"), 2);
  FPool->WaitForJobs(0);  // nothing runs; from now on running work is asked to end early
  Run(LJob);
  EXPECT_EQ(LJob->GetLastResult(), TJobResult::jrCutShort);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
}

TEST_F(JobProcessorTest, ServerAbortSkipsTheWorkAndTheFinishButStillEndsTheJob) {
  EXPECT_CALL(*FReporter, ReportJobStarted("{E}", "M", "")).WillOnce(Return(true));
  std::vector<TJobPtr> LAborted;
  FPool->GetOnJobAborted().Add([&](const TJobPtr& AJob) { LAborted.push_back(AJob); });
  const TJobPtr LJob = MakeJob("M", true, "{E}");
  Run(LJob);  // job-done is raised too
  EXPECT_EQ(LAborted, std::vector<TJobPtr>{LJob});
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Warning, "Job execution aborted by Tessra Server"));
  FPool.reset();  // waits for the processor's thread, which marks the job finished after its release
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Finished);
}

// A processor without a thread: the pool's rules do not depend on running anything.
class TFakeProcessor : public IAgentTaskJobProcessor {
public:
  explicit TFakeProcessor(std::atomic<int>& ALive) : FLive(ALive) { ++FLive; }
  ~TFakeProcessor() override { --FLive; }
  TJobPtr GetJob() override { return FJob; }
  void SetJob(const TJobPtr& AJob) override { FJob = AJob; }
  bool CanProcessJobAction(const TClassName&) override { return true; }
  TJobResult ProcessAndWaitForJob() override { return TJobResult::jrSucceeded; }
  void ProcessJob(const TJobPtr& AJob) override { FJob = AJob; }
  void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>&) override {}
  void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>&) override {}

private:
  std::atomic<int>& FLive;
  TJobPtr FJob;
};

TJobPtr PoolJob(const std::string& AId, bool ACanRunParallel = true) {
  const TJobPtr LJob = Testing::NewJob(AId);
  LJob->SetCanRunParallel(ACanRunParallel);
  return LJob;
}

// A pool of those, at most ALimit of them running at once.
struct TFakePool : TCustomJobProcessorPool<TScannerJobAction> {
  TFakePool(int32_t ALimit, std::atomic<int>& ALive)
      : TCustomJobProcessorPool(nullptr, ALimit), Live(ALive) {}
  std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr&) override {
    return std::make_shared<TFakeProcessor>(Live);
  }
  std::atomic<int>& Live;
};

class CustomJobProcessorPoolTest : public ::testing::Test {
protected:
  // Hands out the processor with its job, as the dispatcher does before ProcessJob.
  IJobProcessor<>* Start(const TJobPtr& AJob) {
    IJobProcessor<>* LProcessor = FPool->RequestProcessor(AJob);
    if (LProcessor) LProcessor->SetJob(AJob);
    return LProcessor;
  }

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::atomic<int> FLive{0};
  std::shared_ptr<TCustomJobProcessorPool<>> FPool = std::make_shared<TFakePool>(10, FLive);
};

TEST_F(CustomJobProcessorPoolTest, RunningJobIsRefusedASecondProcessorWhateverItsLetterCase) {
  ASSERT_NE(Start(PoolJob("{abc}")), nullptr);
  EXPECT_EQ(Start(PoolJob("{ABC}")), nullptr);
  EXPECT_TRUE(FPool->IsJobRunning(*PoolJob("{Abc}")));
  EXPECT_EQ(FPool->GetRunningJobsCount(), 1);
}

TEST_F(CustomJobProcessorPoolTest, ParallelLimitCountsEveryRunningJobButALoneJobStillStarts) {
  FPool = std::make_shared<TFakePool>(2, FLive);
  ASSERT_NE(Start(PoolJob("P1")), nullptr);
  ASSERT_NE(Start(PoolJob("P2")), nullptr);
  EXPECT_EQ(Start(PoolJob("P3")), nullptr);
  // A job that must run alone is held back only by another such job: N + 1 run at once.
  IJobProcessor<>* LSerial = Start(PoolJob("S1", false));
  ASSERT_NE(LSerial, nullptr);
  EXPECT_EQ(Start(PoolJob("S2", false)), nullptr);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 3);
  // After its release, the next request frees the old processor and hands out a new one.
  FPool->ReleaseProcessor(LSerial, false);
  EXPECT_EQ(FLive, 3);
  ASSERT_NE(Start(PoolJob("S2", false)), nullptr);
  EXPECT_EQ(FLive, 3);
}

TEST_F(CustomJobProcessorPoolTest, WaitForJobsReturnsOnlyAfterTheLastJobDoneHandlersRan) {
  using namespace std::chrono_literals;
  IJobProcessor<>* LProcessor = Start(PoolJob("A"));
  std::promise<void> LEntered;
  std::promise<void> LGate;
  std::shared_future<void> LGateOpen = LGate.get_future().share();
  std::atomic<bool> LHandlerDone{false};
  FPool->GetOnJobDone().Add([&](const TJobPtr&) {
    LEntered.set_value();
    LGateOpen.wait_for(10s);
    LHandlerDone.store(true);
  });
  std::thread LReleaser([&] { FPool->ReleaseProcessor(LProcessor, true); });
  // The job is no longer counted, but its done handler still runs under the pool's lock.
  ASSERT_EQ(LEntered.get_future().wait_for(10s), std::future_status::ready);
  std::atomic<bool> LSeenDone{false};
  std::thread LWaiter([&] {
    FPool->WaitForJobs(30);
    LSeenDone.store(LHandlerDone.load());
  });
  std::this_thread::sleep_for(50ms);  // room for a wait that would return too early
  LGate.set_value();
  LWaiter.join();
  LReleaser.join();
  EXPECT_TRUE(LSeenDone.load());
}

class MockRequestSender : public IServerRequestSender {
public:
  MOCK_METHOD(int32_t, SendRequest, (TRequest&, TResponse&), (override));
};

// An automatic agent-task job of the server, due whenever it is asked.
TJobPtr MakeServerJob(std::string_view AContentId) {
  const std::string LId(AContentId);
  return Testing::NewJob("job-" + LId, {.Task = LId, .Condition = Testing::FixedCondition(0.0)});
}

// On the processor's fixture: its clock, log and strict dispatcher.
class AgentTaskJobListProviderTest : public JobProcessorTest {
protected:
  // Every request is answered with AJobs, and with AKnown as the manual job ids the server still
  // knows (by default those of the request).
  void AnswerAlways(TJobList AJobs, std::optional<std::vector<std::string>> AKnown = std::nullopt) {
    ON_CALL(*FSender, SendRequest(_, _)).WillByDefault([=](TRequest& ARequest, TResponse& AResponse) {
      auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
      for (const TJobPtr& LJob : AJobs) LResponse.GetJobList().push_back(CloneAs(*LJob));
      LResponse.GetExistingManualJobIds() =
          AKnown.value_or(dynamic_cast<TCalcJobsForClientRequest&>(ARequest).GetManualJobIds());
      return 0;
    });
  }
  TJobList Reload() {
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TJobList ManualJobs() { return FProvider->CreateSnapshot().ManualJobs; }
  TJobList AutoJobs() { return FProvider->CreateSnapshot().AutoJobs; }
  std::shared_ptr<MockRequestSender> FSender = std::make_shared<::testing::NiceMock<MockRequestSender>>();
  std::shared_ptr<Testing::TRecordingJobListSaver> FSaver =
      std::make_shared<Testing::TRecordingJobListSaver>();
  std::shared_ptr<TAgentTaskJobListProvider> FProvider = std::make_shared<TAgentTaskJobListProvider>(
      FSender, std::make_shared<Testing::TRecordingStorageManager>(), FSaver,
      std::make_shared<Testing::TRecordingJobListLoader>(), TClientId{"client-7"},
      Lazy<IAgentTaskDispatcher>(
          [this] { return std::static_pointer_cast<IAgentTaskDispatcher>(FDispatcher); },
          [] { return std::string("dispatcher"); }));
};

TEST_F(AgentTaskJobListProviderTest, EmptyAnswerEnqueuesSettingsWatchThatRunsNoEarlierThanOneHourLater) {
  AnswerAlways({});
  const TDateTime LLoadTime = Now();
  Reload();
  const TJobList LManual = ManualJobs();
  ASSERT_EQ(LManual.size(), 1u);
  EXPECT_EQ(LManual[0]->GetIdentifier(), CSettingsWatchId);
  EXPECT_TRUE(SameDateTime(LManual[0]->GetNextExecution(), IncSeconds(LLoadTime, 3600)));
  // Further empty answers while it waits add no second one.
  Reload();
  Reload();
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre(std::string(CSettingsWatchId)));

  // Once the scheduler took it off the list, the next empty answer plans the next one.
  FProvider->RemoveManualJob(LManual[0]);
  Reload();
  EXPECT_EQ(ManualJobs().size(), 1u);
}

// A request that fails is no empty list: the automatic jobs stay, the load stays pending for the
// next fetch, and the settings watch is planned as for an empty answer.
TEST_F(AgentTaskJobListProviderTest, AFailedRequestKeepsTheAutomaticJobsAndTheLoadPending) {
  AnswerAlways({MakeServerJob(CRulesId)});
  Reload();
  ON_CALL(*FSender, SendRequest(_, _)).WillByDefault([](TRequest&, TResponse&) { return 1; });
  Reload();
  EXPECT_EQ(Identifiers(AutoJobs()), std::vector<std::string>{"job-" + std::string(CRulesId)});
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre(std::string(CSettingsWatchId)));
}

// The excluded content id in any letter case never becomes an automatic job; of two server jobs
// with one identifier (in any case) the first is kept.
TEST_F(AgentTaskJobListProviderTest, ExcludedContentIdIsLeftOutAndADuplicateIdentifierIsIgnored) {
  TJobPtr LDuplicate = MakeServerJob(CRulesId);
  LDuplicate->SetIdentifier(UpperCase(LDuplicate->GetIdentifier()));
  AnswerAlways({MakeServerJob("{50016f8b-504d-4d1d-ace0-a94f6eac704f}"),
                MakeServerJob(CExcludedAgentTaskContentId), MakeServerJob(CRulesId), LDuplicate,
                MakeServerJob(CFileScannerId)});
  Reload();
  EXPECT_EQ(Identifiers(AutoJobs()),
            (std::vector<std::string>{"job-" + std::string(CRulesId), "job-" + std::string(CFileScannerId)}));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning), 1);
}

// A load retried after a failed update gets the same manual jobs again; they must not run twice. A
// manual job the server no longer knows is aborted.
TEST_F(AgentTaskJobListProviderTest, ManualJobUnknownToServerIsAbortedAndOneAlreadyHeldIsNotAddedAgain) {
  const auto ServerJob = [](const std::string& AId) {
    return Testing::NewJob(AId, {.Task = "{" + AId + "}", .Manual = true});
  };
  for (const char* LId : {"gone", "Kept", "M1"}) FProvider->AddManualJob(ServerJob(LId));
  AnswerAlways({ServerJob("m1")}, {{"KEPT", "M1"}});
  Reload();
  // No automatic job came: the settings watch is planned as well.
  EXPECT_THAT(Identifiers(ManualJobs()), ElementsAre("Kept", "M1", std::string(CSettingsWatchId)));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Aborted manual job: Job gone"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Aborted manual job"), 1);
}

TEST_F(AgentTaskJobListProviderTest, EnqueuesAnswerWithTheSaveResultAndKeepOnlyWhatWasSaved) {
  const std::string LId(CComputerScannerId);
  FSaver->Result = ENOSPC;
  EXPECT_EQ(FProvider->EnqueueAgentTask(LId, Now()), ENOSPC);
  EXPECT_EQ(FProvider->EnqueueAgentTask(LId, Now(), 5), ENOSPC);
  EXPECT_EQ(FProvider->EnqueueAllAgentTasks(Now()), ENOSPC);
  // Every scanner was tried, and nothing that is not on disk is held.
  EXPECT_EQ(FSaver->SaveCount(), 10);
  EXPECT_TRUE(ManualJobs().empty());

  FSaver->Result = 0;
  EXPECT_EQ(FProvider->EnqueueAgentTask(LId, Now()), 0);
  EXPECT_EQ(FProvider->EnqueueAllAgentTasks(Now()), 0);
  EXPECT_EQ(ManualJobs().size(), 9u);
}

}  // namespace
}  // namespace Orvane
