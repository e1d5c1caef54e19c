#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobServices/AgentTask/JobListProvider.Client.h"
#include "JobServices/AgentTask/ScannerResources.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "Support/EngineMocks.h"
#include "Support/HostMocks.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

// A server that always lists the file scanner as an automatic job.
class TFileScannerServer : public IServerRequestSender {
public:
  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override {
    auto& LResponse = dynamic_cast<TCalcJobsForClientResponse&>(AResponse);
    auto LJob = std::make_shared<TJob>();
    LJob->SetIdentifier("server-file-scanner");
    auto LAction = std::make_shared<TFileScannerJobAction>();
    LAction->AgentTaskId = std::string(CFileScannerId);
    LAction->Paths = {"/srv"};
    LJob->SetJobAction(LAction);
    LJob->GetStartCondition()->AddCondition(Testing::FixedCondition(0.0));
    LResponse.GetJobList().push_back(LJob);
    LResponse.GetExistingManualJobIds() =
        dynamic_cast<TCalcJobsForClientRequest&>(ARequest).GetManualJobIds();
    return 0;
  }
};

// Host threads enqueue and run agent tasks while the service's thread reloads from the server:
// every enqueued job arrives once, and every direct run gets an action of its own.
TEST(AgentTaskJobListProviderConcurrencyTest, HostCallsDuringReloadsLoseNoJobAndShareNoAction) {
  auto LDispatcher = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskDispatcher>>();
  std::atomic<int> LRuns{0};
  ON_CALL(*LDispatcher, StartScanner(::testing::A<const std::shared_ptr<TScannerJobAction>&>(), ::testing::_))
      .WillByDefault([&](const std::shared_ptr<TScannerJobAction>& AAction, const TContinueCheck&) {
        AAction->ExecutionId = "run";  // written by this thread only: a shared action would race here
        return ++LRuns, true;
      });
  auto LProvider = std::make_shared<TAgentTaskJobListProvider>(
      std::make_shared<TFileScannerServer>(), std::make_shared<Testing::TRecordingStorageManager>(),
      std::make_shared<Testing::TRecordingJobListSaver>(),
      std::make_shared<Testing::TRecordingJobListLoader>(), TClientId{"client-1"},
      Lazy<IAgentTaskDispatcher>(
          [LDispatcher] { return std::static_pointer_cast<IAgentTaskDispatcher>(LDispatcher); },
          [] { return std::string("dispatcher"); }));

  constexpr int CRounds = 50;
  const auto LRepeat = [&](auto ABody) {
    return std::thread([ABody] {
      for (int LRound = 0; LRound < CRounds; ++LRound) ABody(LRound);
    });
  };
  std::thread LThreads[] = {
      LRepeat([&](int) {
        LProvider->SetLoadListFromServerOnNextFetch(true);
        LProvider->FetchJobList();
      }),
      LRepeat([&](int ARound) { LProvider->EnqueueAgentTask("{task-" + std::to_string(ARound) + "}", 0.0); }),
      LRepeat([&](int) { LProvider->RunAndWaitForAgentTask(std::string(CFileScannerId)); })};
  for (std::thread& LThread : LThreads) LThread.join();

  EXPECT_EQ(LProvider->CreateSnapshot().ManualJobs.size(), static_cast<std::size_t>(CRounds));
  EXPECT_EQ(LRuns.load(), CRounds);
}

}  // namespace
}  // namespace Orvane
