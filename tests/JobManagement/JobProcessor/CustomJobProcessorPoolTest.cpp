#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobProcessor/CustomJobProcessorPool.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"

namespace Orvane::Testing {
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
  void SetProcessorPool(const std::shared_ptr<IJobProcessorPool<>>&) override {}
  void SetJobExecStateReporter(const std::shared_ptr<IJobExecStateReporter>&) override {}

private:
  std::atomic<int>& FLive;
  TJobPtr FJob;
};

TJobPtr MakeJob(const std::string& AId, bool ACanRunParallel = true) {
  const TJobPtr LJob = NewJob(AId);
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

  TManualClockScope FClock;
  TLogCapture FLog;
  std::atomic<int> FLive{0};
  std::shared_ptr<TCustomJobProcessorPool<>> FPool =
      std::make_shared<TAgentTaskJobProcessorPool>([this]() -> std::shared_ptr<IAgentTaskJobProcessor> {
        return std::make_shared<TFakeProcessor>(FLive);
      });
};

TEST_F(CustomJobProcessorPoolTest, RunningJobIsRefusedASecondProcessorWhateverItsLetterCase) {
  ASSERT_NE(Start(MakeJob("{abc}")), nullptr);
  EXPECT_EQ(Start(MakeJob("{ABC}")), nullptr);
  EXPECT_TRUE(FPool->IsJobRunning(*MakeJob("{Abc}")));
  EXPECT_EQ(FPool->GetRunningJobsCount(), 1);
}

TEST_F(CustomJobProcessorPoolTest, ParallelLimitCountsEveryRunningJobButALoneJobStillStarts) {
  UseLimit(2);
  ASSERT_NE(Start(MakeJob("P1")), nullptr);
  ASSERT_NE(Start(MakeJob("P2")), nullptr);
  EXPECT_EQ(Start(MakeJob("P3")), nullptr);
  // A job that must run alone is held back only by another such job: N + 1 run at once.
  IJobProcessor<>* LSerial = Start(MakeJob("S1", false));
  ASSERT_NE(LSerial, nullptr);
  EXPECT_EQ(Start(MakeJob("S2", false)), nullptr);
  EXPECT_EQ(FPool->GetRunningJobsCount(), 3);
  // After its release, the next request frees the old processor and hands out a new one.
  FPool->ReleaseProcessor(LSerial, false);
  EXPECT_EQ(FLive, 3);
  ASSERT_NE(Start(MakeJob("S2", false)), nullptr);
  EXPECT_EQ(FLive, 3);
}

TEST_F(CustomJobProcessorPoolTest, WaitForJobsReturnsOnlyAfterTheLastJobDoneHandlersRan) {
  using namespace std::chrono_literals;
  IJobProcessor<>* LProcessor = Start(MakeJob("A"));
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
}  // namespace Orvane::Testing
