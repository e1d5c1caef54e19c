#include <gmock/gmock.h>

#include <atomic>
#include <map>
#include <thread>

#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "Support/HostMocks.h"

namespace Orvane {
namespace {

class TCountingProcessor : public TAgentTaskJobProcessor {
public:
  TCountingProcessor(std::shared_ptr<IAgentTaskDispatcher> ADispatcher, std::atomic<int>& ALive)
      : TAgentTaskJobProcessor(std::move(ADispatcher)), FLive(ALive) {
    ++FLive;
  }
  ~TCountingProcessor() override {
    FinishBeforeDestruction();
    --FLive;
  }

private:
  std::atomic<int>& FLive;
};

TEST(JobProcessingConcurrencyTest, ManyShortJobsFromFourThreadsAreEachReleasedOnce) {
  constexpr int CThreads = 4, CJobsPerThread = 500;
  // A task that does nothing and answers at once, as fast as a task can.
  auto LDispatcher = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskDispatcher>>();
  std::atomic<int> LRuns{0}, LLive{0};
  ON_CALL(*LDispatcher, StartScanner(::testing::A<const TJobPtr&>(), ::testing::_))
      .WillByDefault(
          [&](const TJobPtr&, const TContinueCheck& ACanContinue) { return ++LRuns, ACanContinue(); });
  std::weak_ptr<TJob> LLastManual;
  TMutex LLock;
  std::map<std::string, int> LReleases;
  {
    auto LPool =
        std::make_shared<TAgentTaskJobProcessorPool>([&]() -> std::shared_ptr<IAgentTaskJobProcessor> {
          return std::make_shared<TCountingProcessor>(LDispatcher, LLive);
        });
    LPool->GetOnJobDone().Add([&](const TJobPtr& AJob) {
      TMutexLock LGuard(LLock);
      ++LReleases[AJob->GetIdentifier()];
    });
    std::vector<std::thread> LThreads;
    for (int T = 0; T < CThreads; ++T) {
      LThreads.emplace_back([&, T] {
        for (int I = 0; I < CJobsPerThread; ++I) {
          auto LJob = std::make_shared<TJob>();
          LJob->SetIdentifier("job-" + std::to_string(T) + "-" + std::to_string(I));
          LJob->SetIsManual(I % 2 == 0);
          LJob->SetJobAction(std::make_shared<TScannerJobAction>());
          if (T == 0 && I == CJobsPerThread - 2) LLastManual = LJob;  // one writer thread
          IJobProcessor<>* LProcessor = LPool->RequestProcessor(LJob);
          ASSERT_NE(LProcessor, nullptr);
          LJob->SetExecState(TJobExecState::Running);
          LProcessor->ProcessJob(LJob);
        }
      });
    }
    for (std::thread& LThread : LThreads) LThread.join();
    LPool->WaitForJobs(600);
    EXPECT_EQ(LPool->GetRunningJobsCount(), 0);
  }
  EXPECT_EQ(LLive, 0);  // every processor freed with the pool
  EXPECT_EQ(LRuns, CThreads * CJobsPerThread);
  EXPECT_EQ(LReleases.size(), static_cast<std::size_t>(CThreads * CJobsPerThread));
  for (const auto& [LId, LCount] : LReleases) EXPECT_EQ(LCount, 1) << LId;
  EXPECT_TRUE(LLastManual.expired());
}

}  // namespace
}  // namespace Orvane
