#include <gmock/gmock.h>

#include <atomic>
#include <future>
#include <thread>

#include "JobManagement/JobKit.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/ClockScope.h"
#include "Support/HostMocks.h"
#include "Support/LogCapture.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

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

// A job done handler that raises still leaves the job finished.
TEST_F(JobProcessorTest, AgentTaskJobWithoutExecutionIdRunsUnreportedAndARaisingJobDoneHandlerLeavesItFinished) {
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

// The pool's own rules, on processors that run nothing.
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

class CustomJobProcessorPoolTest : public ::testing::Test {
protected:
  // Hands out the processor with its job, as the dispatcher does before ProcessJob.
  IJobProcessor<>* Start(const TJobPtr& AJob) {
    IJobProcessor<>* LProcessor = FPool->RequestProcessor(AJob);
    if (LProcessor) LProcessor->SetJob(AJob);
    return LProcessor;
  }
  void UseLimit(int32_t ALimit) {
    struct TLimitedPool : TCustomJobProcessorPool<TScannerJobAction> {
      TLimitedPool(int32_t ALimit, std::atomic<int>& ALive)
          : TCustomJobProcessorPool(nullptr, ALimit), Live(ALive) {}
      std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr&) override {
        return std::make_shared<TFakeProcessor>(Live);
      }
      std::atomic<int>& Live;
    };
    FPool = std::make_shared<TLimitedPool>(ALimit, FLive);
  }

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::atomic<int> FLive{0};
  std::shared_ptr<TCustomJobProcessorPool<>> FPool =
      std::make_shared<TAgentTaskJobProcessorPool>([this]() -> std::shared_ptr<IAgentTaskJobProcessor> {
        return std::make_shared<TFakeProcessor>(FLive);
      });
};

TEST_F(CustomJobProcessorPoolTest, RunningJobIsRefusedASecondProcessorWhateverItsLetterCase) {
  ASSERT_NE(Start(PoolJob("{abc}")), nullptr);
  EXPECT_EQ(Start(PoolJob("{ABC}")), nullptr);
  EXPECT_TRUE(FPool->IsJobRunning(*PoolJob("{Abc}")));
  EXPECT_EQ(FPool->GetRunningJobsCount(), 1);
}

TEST_F(CustomJobProcessorPoolTest, ParallelLimitCountsEveryRunningJobButALoneJobStillStarts) {
  UseLimit(2);
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

}  // namespace
}  // namespace Orvane
