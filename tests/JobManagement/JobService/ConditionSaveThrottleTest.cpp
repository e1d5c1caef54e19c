// Finished jobs mark the condition storages dirty; the service saves them at most once a second and
// at every stop, so a crash loses at most the last second's runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "JobManagement/JobService/JobDispatcher.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/JobService/JobService.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"
#include "Support/RecordingPool.h"
#include "Support/ServiceMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::NiceMock;

// Its "file" is the number of runs recorded when it was last saved: what a kill would leave.
class TRunRecordingProvider : public Testing::TFakeJobListProvider {
public:
  void SaveConditionStorages() override {
    ++FStorageSaves;
    RunsOnDisk = RunsDone.load();
  }
  std::atomic<int> RunsDone{0};
  std::atomic<int> RunsOnDisk{0};
};

class ConditionSaveThrottleTest : public ::testing::Test {
protected:
  void SetUp() override {
    FService = std::make_shared<TJobService>(std::make_shared<TJobDispatcher>(FQueue, FPool, nullptr, FProvider),
                                             FScheduler, FProvider, FPool, nullptr, FQueue, FRunInfo, 60);
  }
  void TearDown() override { FService->Stop(); }
  void Start() {
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

  Testing::TManualClockScope FClock;
  Testing::TLogCapture FLog;
  std::shared_ptr<TJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(nullptr, nullptr);
  std::shared_ptr<TRunRecordingProvider> FProvider = std::make_shared<TRunRecordingProvider>();
  std::shared_ptr<Testing::TRecordingPool> FPool = std::make_shared<Testing::TRecordingPool>(100);
  std::shared_ptr<NiceMock<Testing::MockJobScheduler>> FScheduler =
      std::make_shared<NiceMock<Testing::MockJobScheduler>>();
  TSystemRunInfoPtr FRunInfo = std::make_shared<TSystemRunInfo>();
  TJobPtr FJob = std::make_shared<TJob>();
  std::shared_ptr<TJobService> FService;
};

TEST_F(ConditionSaveThrottleTest, RunsWithinASecondAreSavedOnceAndTheLastOnesWhenTheSecondEnds) {
  Start();
  RunEnds();
  EXPECT_EQ(Saves(), 1) << "the first run after a quiet second is saved at once";
  for (int I = 0; I < 5; ++I) {
    Clock().AdvanceMs(100);
    RunEnds();
  }
  EXPECT_EQ(Saves(), 1);
  Clock().AdvanceMs(499);
  EXPECT_EQ(Saves(), 1);
  Clock().AdvanceMs(1);
  EXPECT_EQ(Saves(), 2) << "a second after the last save";
  EXPECT_EQ(FProvider->RunsOnDisk, 6);
  Clock().AdvanceSeconds(10);
  EXPECT_EQ(Saves(), 2) << "nothing dirty, nothing written";
}

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
}

}  // namespace
}  // namespace Orvane
