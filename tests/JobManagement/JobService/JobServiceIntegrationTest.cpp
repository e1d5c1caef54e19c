// A job travels the whole engine: job list, scheduler, queue, dispatcher, pool, processor and an
// agent task found by the agent task dispatcher.
#include <gtest/gtest.h>

#include <atomic>

#include "EngineKit.h"
#include "Support/ClockScope.h"
#include "Support/LogCapture.h"
#include "Support/ServiceMocks.h"

namespace Orvane::Testing {
namespace {

TEST(JobServiceIntegrationTest, JobWhoseHandOverKeepsFailingIsDroppedAndTheOthersStillRun) {
  TManualClockScope LClock;
  TLogCapture LLog;
  std::atomic<int> LRuns{0};
  auto LServant = std::make_shared<::testing::NiceMock<MockJobServant>>();
  EXPECT_CALL(*LServant, IsJobStartAllowed(::testing::_)).WillRepeatedly([](const TJobPtr& AJob) {
    if (AJob->GetIdentifier() == "poison") throw std::runtime_error("servant failed");
    return true;
  });
  TEngine LEngine({.Tasks = {Task("scanner", [&] { return ++LRuns, true; })}, .Servant = LServant}, {});
  for (const TJobPtr& LJob : {TaskJob("poison"), TaskJob("scanner")}) {
    LJob->SetNextExecution(Now());
    LJob->SetOrder(LJob->GetIdentifier() == "scanner");  // behind the poison job
    LEngine.Provider->AddManualJob(LJob);
  }
  LEngine.Service->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  Clock().AdvanceSeconds(2);  // two failed turns, a second apart; the third drops the job
  EXPECT_EQ(LRuns, 1);
  EXPECT_EQ(LEngine.Pool->GetRunningJobsCount(), 0);
  EXPECT_EQ(LLog->Count(TLogEntryKind::Error, "TJobService.Running"), 2);
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Object, "Dropped job"));
  const TJobList LList = LEngine.Service->FetchJobList();
  ASSERT_EQ(LList.size(), 1u);  // back in the job list, not due any more
  EXPECT_EQ(LList[0]->GetIdentifier(), "poison");
  EXPECT_EQ(LList[0]->GetNextExecution(), CNoDateTime);
  LEngine.Service->Stop();
}

}  // namespace
}  // namespace Orvane::Testing
