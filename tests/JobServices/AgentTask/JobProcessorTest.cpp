#include "JobServices/AgentTask/JobProcessor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Time/WaitableEvent.h"
#include "Support/LogCapture.h"
#include "Support/ClockScope.h"
#include "Support/HostMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::StrictMock;
using ::testing::Throw;

// The base processor with a result the test chooses: it keeps the execution ids of scheduled jobs.
class TPlainProcessor : public TCustomJobProcessor<TScannerJobAction> {
public:
  explicit TPlainProcessor(TJobResult AResult) : FResult(AResult) {}
  ~TPlainProcessor() override { FinishBeforeDestruction(); }

protected:
  TJobResult InternalProcessJob() override { return FResult; }

private:
  TJobResult FResult;
};

TJobPtr MakeJob(const std::string& AId, bool AManual, const std::string& AExecutionId = "") {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AId);
  LJob->SetDisplayText("Task " + AId);
  LJob->SetIsManual(AManual);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AId;
  LAction->ExecutionId = AExecutionId;
  LJob->SetJobAction(LAction);
  return LJob;
}

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

  void UsePlainProcessors(TJobResult AResult) {
    FPool = std::make_shared<TAgentTaskJobProcessorPool>(FReporter, [AResult] {
      // The pool stores whatever the factory makes; a plain processor stands in for an agent-task one.
      struct TAdapter : TPlainProcessor, IAgentTaskJobProcessor {
        using TPlainProcessor::TPlainProcessor;
      };
      return std::shared_ptr<IAgentTaskJobProcessor>(std::make_shared<TAdapter>(AResult));
    });
    FPool->GetOnJobDone().Add([this](const TJobPtr&) { FDone.SetEvent(); });
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

TEST_F(JobProcessorTest, ScheduledJobGetsAFreshExecutionIdEachRunAndAManualJobKeepsItsOwn) {
  UsePlainProcessors(TJobResult::jrSucceeded);
  std::vector<std::string> LStarted;
  EXPECT_CALL(*FReporter, ReportJobStarted(_, _, ""))
      .WillRepeatedly([&](const std::string& AId, const std::string&, const std::string&) {
        LStarted.push_back(AId);
        return false;
      });
  EXPECT_CALL(*FReporter, ReportJobFinished(_, _, TJobResult::jrSucceeded, "")).Times(3);
  const TJobPtr LScheduled = MakeJob("S", false);
  Run(LScheduled);
  Run(LScheduled);
  Run(MakeJob("M", true, "{MANUAL-EXECUTION}"));
  ASSERT_EQ(LStarted.size(), 3u);
  EXPECT_EQ(LStarted[0].size(), 38u);
  EXPECT_EQ(LStarted[1].size(), 38u);
  EXPECT_NE(LStarted[0], LStarted[1]);
  EXPECT_EQ(LStarted[2], "{MANUAL-EXECUTION}");
}

TEST_F(JobProcessorTest, AgentTaskJobsWithoutExecutionIdRunUnreported) {
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).WillOnce(Return(true));
  const TJobPtr LJob = MakeJob("A", false);
  Run(LJob);  // the strict reporter fails the test on any report
  EXPECT_EQ(LJob->GetJobAction()->ExecutionId, "");
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "No exec state reported"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Process: \"Task A\""));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Object, "Job action [TScannerJobAction]"));
}

TEST_F(JobProcessorTest, OneStartAndOneFinishCarryTheWorksResult) {
  testing::InSequence LOrder;
  EXPECT_CALL(*FReporter, ReportJobStarted("{E}", "M", "")).WillOnce(Return(false));
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).WillOnce(Return(false));
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrFailed, ""));
  Run(MakeJob("M", true, "{E}"));
}

TEST_F(JobProcessorTest, TheJobCarriesItsLastRunsResultAndAFailureWhileThePoolStopsIsCutShort) {
  EXPECT_CALL(*FReporter, ReportJobStarted("{E}", "M", "")).Times(3).WillRepeatedly(Return(false));
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _))
      .WillOnce(Return(true))
      .WillOnce(Return(false))
      .WillOnce(Throw(std::runtime_error("scanner crashed")));
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrSucceeded, ""));
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrCutShort, ""));
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrNoResult, ""));
  const TJobPtr LJob = MakeJob("M", true, "{E}");
  Run(LJob);
  EXPECT_EQ(LJob->GetLastResult(), TJobResult::jrSucceeded);
  FPool->WaitForJobs(0);  // nothing runs; from now on running work is asked to end early
  Run(LJob);
  EXPECT_EQ(LJob->GetLastResult(), TJobResult::jrCutShort);
  Run(LJob);  // a run that raised leaves no result, not the one before
  EXPECT_EQ(LJob->GetLastResult(), TJobResult::jrNoResult);
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

TEST_F(JobProcessorTest, TaskThatRaisesAnythingIsReportedWithoutResultAndLoggedAsFailed) {
  EXPECT_CALL(*FReporter, ReportJobStarted(_, _, _)).Times(2).WillRepeatedly(Return(false));
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _))
      .WillOnce(Throw(std::runtime_error("scanner crashed")))
      .WillOnce([](const TJobPtr&, const TContinueCheck&) -> bool { throw 42; });
  EXPECT_CALL(*FReporter, ReportJobFinished("{E}", "M", TJobResult::jrNoResult, "")).Times(2);
  Run(MakeJob("M", true, "{E}"));
  Run(MakeJob("M", true, "{E}"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "scanner crashed"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "Unknown exception"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Failed job"), 2);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 0);
}

TEST_F(JobProcessorTest, JobDoneHandlerThatRaisesStillLeavesTheJobFinished) {
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).WillOnce(Return(true));
  FPool->GetOnJobDone().Add([](const TJobPtr&) { throw std::runtime_error("notifier failed"); });
  const TJobPtr LJob = MakeJob("S", false);
  Run(LJob);
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Finished);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "notifier failed"));
}

TEST_F(JobProcessorTest, ManualJobIsGivenUpAfterItsRunAndAScheduledJobStaysFinished) {
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).Times(2).WillRepeatedly(Return(true));
  std::weak_ptr<TJob> LManual;
  {
    TJobPtr LJob = MakeJob("M", true);
    LManual = LJob;
    Run(LJob);
  }
  const TJobPtr LScheduled = MakeJob("S", false);
  Run(LScheduled);
  FPool.reset();  // frees the processors once their runs have passed their last step
  EXPECT_TRUE(LManual.expired());
  EXPECT_EQ(LScheduled->GetExecState(), TJobExecState::Finished);
}

TEST_F(JobProcessorTest, ProcessorWhoseStartWasRefusedIsFreedWithoutRunningItsJob) {
  const TJobPtr LJob = MakeJob("A", false);
  IJobProcessor<>* LProcessor = FPool->RequestProcessor(LJob);
  ASSERT_NE(LProcessor, nullptr);
  LProcessor->SetJob(LJob);
  FPool->ReleaseProcessor(LProcessor, false);
  // The next request, on another thread, frees it: no thread to join, no run, no wait.
  std::thread LOther([&] { EXPECT_NE(FPool->RequestProcessor(MakeJob("B", false)), nullptr); });
  LOther.join();
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Idle);
}

TEST_F(JobProcessorTest, ProcessAndWaitForJobRunsOnTheCallerWithoutReportsOrStateChange) {
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).WillOnce(Return(true));
  TAgentTaskJobProcessor LProcessor(FDispatcher);
  const TJobPtr LJob = MakeJob("A", true, "{E}");
  LProcessor.SetJob(LJob);
  EXPECT_EQ(LProcessor.ProcessAndWaitForJob(), TJobResult::jrSucceeded);
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Idle);
}

TEST_F(JobProcessorTest, DestroyingAFinishedProcessorDoesNotWaitForItsBound) {
  EXPECT_CALL(*FDispatcher, StartScanner(testing::A<const TJobPtr&>(), _)).WillOnce(Return(true));
  Run(MakeJob("A", false));
  const TMonoTime LBefore = Clock().Monotonic();
  FPool.reset();  // on the manual clock a wait for the 5-second bound would never end
  EXPECT_EQ(Clock().Monotonic(), LBefore);
}

}  // namespace
}  // namespace Orvane
