#include "JobManagement/JobProcessor/CustomJobProcessorPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/LogCapture.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

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
  void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>& APool) override { FPool = APool; }
  void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>&) override {}

  std::weak_ptr<IJobProcessorPool<>> FPool;

private:
  std::atomic<int>& FLive;
  TJobPtr FJob;
};

class TLimitedPool : public TCustomJobProcessorPool<TScannerJobAction> {
public:
  TLimitedPool(int32_t ALimit, std::atomic<int>& ALive) : TCustomJobProcessorPool(nullptr, ALimit), FLive(ALive) {}

protected:
  std::shared_ptr<IJobProcessor<>> CreateProcessor(const TJobPtr&) override {
    return std::make_shared<TFakeProcessor>(FLive);
  }

private:
  std::atomic<int>& FLive;
};

TJobPtr MakeJob(const std::string& AId, bool ACanRunParallel = true) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AId);
  LJob->SetDisplayText("Job " + AId);
  LJob->SetCanRunParallel(ACanRunParallel);
  return LJob;
}

// Hands out the processor with its job, as the dispatcher does before ProcessJob.
IJobProcessor<>* Start(IJobProcessorPool<>& APool, const TJobPtr& AJob) {
  IJobProcessor<>* LProcessor = APool.RequestProcessor(AJob);
  if (LProcessor) LProcessor->SetJob(AJob);
  return LProcessor;
}

class CustomJobProcessorPoolTest : public ::testing::Test {
protected:

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::atomic<int> FLive{0};
};

TEST_F(CustomJobProcessorPoolTest, RunningJobIsRefusedASecondProcessorWhateverItsLetterCase) {
  auto LPool = std::make_shared<TLimitedPool>(10, FLive);
  ASSERT_NE(Start(*LPool, MakeJob("{abc}")), nullptr);
  EXPECT_EQ(Start(*LPool, MakeJob("{ABC}")), nullptr);
  EXPECT_TRUE(LPool->IsJobRunning(*MakeJob("{Abc}")));
  EXPECT_EQ(LPool->GetRunningJobsCount(), 1);
}

TEST_F(CustomJobProcessorPoolTest, ParallelLimitCountsEveryRunningJobButALoneJobStillStarts) {
  auto LPool = std::make_shared<TLimitedPool>(2, FLive);
  ASSERT_NE(Start(*LPool, MakeJob("P1")), nullptr);
  ASSERT_NE(Start(*LPool, MakeJob("P2")), nullptr);
  EXPECT_EQ(Start(*LPool, MakeJob("P3")), nullptr);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Max count of parallel processors reached"));
  // A job that must run alone is held back only by another such job: N + 1 run at once.
  IJobProcessor<>* LSerial = Start(*LPool, MakeJob("S1", false));
  ASSERT_NE(LSerial, nullptr);
  EXPECT_EQ(Start(*LPool, MakeJob("S2", false)), nullptr);
  EXPECT_EQ(LPool->GetRunningJobsCount(), 3);
  // After its release, the next request frees the old processor and hands out a new one.
  LPool->ReleaseProcessor(LSerial, false);
  EXPECT_EQ(FLive, 3);
  ASSERT_NE(Start(*LPool, MakeJob("S2", false)), nullptr);
  EXPECT_EQ(FLive, 3);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Value, "Released processors"));
}

TEST_F(CustomJobProcessorPoolTest, ReleaseWithNotificationRaisesJobDoneOnceAndWithoutNone) {
  auto LPool = std::make_shared<TLimitedPool>(10, FLive);
  std::vector<TJobPtr> LDone, LAfterRequest;
  LPool->GetOnJobDone().Add([&](const TJobPtr& AJob) { LDone.push_back(AJob); });
  LPool->GetOnAfterRequestProcessor().Add([&](const TJobPtr& AJob) { LAfterRequest.push_back(AJob); });
  const TJobPtr LFirst = MakeJob("A"), LSecond = MakeJob("B");
  IJobProcessor<>* LA = Start(*LPool, LFirst);
  IJobProcessor<>* LB = Start(*LPool, LSecond);
  EXPECT_EQ(LAfterRequest, (std::vector<TJobPtr>{LFirst, LSecond}));
  LPool->ReleaseProcessor(LA, true);
  LPool->ReleaseProcessor(LB, false);
  EXPECT_EQ(LDone, std::vector<TJobPtr>{LFirst});
  EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Finished job: \"Job A\""), 1);
  EXPECT_EQ(LPool->GetRunningJobsCount(), 0);
  // The processor keeps its pool weakly.
  EXPECT_EQ(dynamic_cast<TFakeProcessor*>(LA)->FPool.lock(), LPool);
}

TEST_F(CustomJobProcessorPoolTest, ReleasingAProcessorWithoutAJobOrAnUnknownJobChangesNothing) {
  auto LPool = std::make_shared<TLimitedPool>(10, FLive);
  IJobProcessor<>* LProcessor = Start(*LPool, MakeJob("A"));
  TFakeProcessor LStranger(FLive);
  LPool->ReleaseProcessor(&LStranger, true);  // no job
  LStranger.SetJob(MakeJob("unknown"));
  LPool->ReleaseProcessor(&LStranger, false);
  EXPECT_EQ(LPool->GetRunningJobsCount(), 1);
  LPool->ReleaseProcessor(LProcessor, false);
  EXPECT_EQ(LPool->GetRunningJobsCount(), 0);
}

TEST_F(CustomJobProcessorPoolTest, WaitForJobsStopsWorkUntilShutdownAllowsItAgain) {
  auto LPool = std::make_shared<TLimitedPool>(10, FLive);
  LPool->WaitForJobs(0);  // nothing runs: returns at once
  EXPECT_FALSE(LPool->CanContinueWork());
  LPool->AllowJobExecutionForShutdown();
  EXPECT_TRUE(LPool->CanContinueWork());

  IJobProcessor<>* LProcessor = Start(*LPool, MakeJob("A"));
  LPool->WaitForJobs(0);  // a job runs, but no time is allowed: returns at once
  const TMonoTime LStart = Clock().Monotonic();
  std::thread LWaiter([&] { LPool->WaitForJobs(30); });
  Clock().WaitForSleepers(1);
  Clock().AdvanceSeconds(5);
  LPool->ReleaseProcessor(LProcessor, true);  // the wait ends with the last job, not at its deadline
  LWaiter.join();
  EXPECT_EQ(Clock().Monotonic() - LStart, std::chrono::seconds(5));
}

TEST_F(CustomJobProcessorPoolTest, WaitForJobsReturnsOnlyAfterTheLastJobDoneHandlersRan) {
  using namespace std::chrono_literals;
  auto LPool = std::make_shared<TLimitedPool>(10, FLive);
  IJobProcessor<>* LProcessor = Start(*LPool, MakeJob("A"));
  std::promise<void> LEntered;
  std::promise<void> LGate;
  std::shared_future<void> LGateOpen = LGate.get_future().share();
  std::atomic<bool> LHandlerDone{false};
  LPool->GetOnJobDone().Add([&](const TJobPtr&) {
    LEntered.set_value();
    LGateOpen.wait_for(10s);
    LHandlerDone.store(true);
  });
  std::thread LReleaser([&] { LPool->ReleaseProcessor(LProcessor, true); });
  // The job is no longer counted, but its done handler still runs under the pool's lock.
  ASSERT_EQ(LEntered.get_future().wait_for(10s), std::future_status::ready);
  std::atomic<bool> LSeenDone{false};
  std::thread LWaiter([&] {
    LPool->WaitForJobs(30);
    LSeenDone.store(LHandlerDone.load());
  });
  std::this_thread::sleep_for(50ms);  // room for a wait that would return too early
  LGate.set_value();
  LWaiter.join();
  LReleaser.join();
  EXPECT_TRUE(LSeenDone.load());
}

TEST_F(CustomJobProcessorPoolTest, AgentTaskPoolMakesEachProcessorThroughItsFactoryAndFreesAllAtTheEnd) {
  int LMade = 0;
  std::weak_ptr<TCustomJobProcessorPool<>> LWeak;
  {
    auto LPool = std::make_shared<TAgentTaskJobProcessorPool>([&]() -> std::shared_ptr<IAgentTaskJobProcessor> {
      ++LMade;
      return std::make_shared<TFakeProcessor>(FLive);
    });
    LWeak = LPool;
    EXPECT_EQ(LPool->GetMaxParallelProcessorCount(), 2147483647);
    EXPECT_EQ(LPool->GetJobActionClass(), "TScannerJobAction");
    IJobProcessor<>* LReleased = Start(*LPool, MakeJob("A"));
    Start(*LPool, MakeJob("B"));
    LPool->ReleaseProcessor(LReleased, false);
    EXPECT_EQ(LMade, 2);
  }
  EXPECT_TRUE(LWeak.expired());
  EXPECT_EQ(FLive, 0);
}

TEST_F(CustomJobProcessorPoolTest, FactoryWithoutAProcessorLeavesNoJobCountedAsRunning) {
  auto LPool = std::make_shared<TAgentTaskJobProcessorPool>([]() { return std::shared_ptr<IAgentTaskJobProcessor>(); });
  EXPECT_EQ(LPool->RequestProcessor(MakeJob("A")), nullptr);
  EXPECT_EQ(LPool->RequestProcessor(MakeJob("S", false)), nullptr);
  EXPECT_EQ(LPool->GetRunningJobsCount(), 0);
  EXPECT_FALSE(LPool->IsJobRunning(*MakeJob("A")));
}

}  // namespace
}  // namespace Orvane
