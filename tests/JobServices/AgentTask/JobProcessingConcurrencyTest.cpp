#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {
namespace {

// Does nothing and answers at once, as fast as a task can.
class TNoOpDispatcher : public IAgentTaskDispatcher {
public:
  bool StartScanner(const TJobPtr&, const TContinueCheck& ACanContinue) override {
    ++FRuns;
    return ACanContinue();
  }
  bool StartScanner(const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&) override { return true; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const std::string&) override {
    return true;
  }
  std::atomic<int> FRuns{0};
};

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
  constexpr int CThreads = 4;
  constexpr int CJobsPerThread = 500;
  auto LDispatcher = std::make_shared<TNoOpDispatcher>();
  std::atomic<int> LLive{0};
  std::weak_ptr<TJob> LLastManual;
  TMutex LLock;
  std::map<std::string, int> LReleases;
  {
    auto LPool = std::make_shared<TAgentTaskJobProcessorPool>([&]() -> std::shared_ptr<IAgentTaskJobProcessor> {
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
  EXPECT_EQ(LDispatcher->FRuns, CThreads * CJobsPerThread);
  EXPECT_EQ(LReleases.size(), static_cast<std::size_t>(CThreads * CJobsPerThread));
  for (const auto& [LId, LCount] : LReleases) EXPECT_EQ(LCount, 1) << LId;
  EXPECT_TRUE(LLastManual.expired());
}

}  // namespace
}  // namespace Orvane
