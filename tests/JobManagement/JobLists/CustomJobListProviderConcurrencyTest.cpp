#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "Support/EngineMocks.h"
#include "Support/RunConcurrently.h"

namespace Orvane::Testing {
namespace {

// Two providers made with one name (in different letter case) on different threads: every section
// that runs under either provider's lock touches one plain counter, so a gap in the exclusion is a
// lost increment, an overlap seen by the counter of threads inside, and a ThreadSanitizer report.
TEST(CustomJobListProviderConcurrencyTest, ProvidersOfOneNameExcludeEachOtherAcrossThreads) {
  constexpr int CRounds = 300;
  int LShared = 0;
  std::atomic<int> LInside{0};
  std::atomic<int> LOverlaps{0};
  const auto LCritical = [&] {
    if (LInside.fetch_add(1) != 0) LOverlaps.fetch_add(1);
    for (int LStep = 0; LStep < 10; ++LStep) ++LShared;
    LInside.fetch_sub(1);
  };
  auto LFirst =
      std::make_shared<TScriptedJobListProvider>(nullptr, nullptr, nullptr, nullptr, "SharedJobList");
  auto LSecond = std::make_shared<TScriptedJobListProvider>(
      nullptr, std::make_shared<TRecordingStorageManager>(), std::make_shared<TRecordingJobListSaver>(),
      nullptr, "sharedjoblist");
  LFirst->Source = {NewJob("a")};
  LFirst->OnLoad = LCritical;
  LSecond->OnLoad = LCritical;
  LSecond->GetOnManualJobsChanged().Add([&](const TJobPtr&) { LCritical(); });
  LSecond->GetOnBeforeManualJobRemoved().Add([&](const TJobPtr&) { LCritical(); });

  const auto Rounds = [](std::function<void(int)> ABody) {
    return [ABody] {
      for (int LRound = 0; LRound < CRounds; ++LRound) ABody(LRound);
    };
  };
  RunConcurrently({Rounds([&](int) {
                     LFirst->SetLoadListFromServerOnNextFetch(true);
                     LFirst->FetchJobList();
                   }),
                   Rounds([&](int ARound) {
                     const TJobPtr LJob = NewJob("m" + std::to_string(ARound));
                     LSecond->AddManualJob(LJob);
                     LSecond->RemoveManualJob(LJob);
                   }),
                   Rounds([&](int) {
                     LSecond->SetLoadListFromServerOnNextFetch(true);
                     LSecond->FetchJobList();
                     LFirst->CreateSnapshot();
                   })});

  EXPECT_EQ(LOverlaps.load(), 0);
  EXPECT_EQ(LShared, 4 * CRounds * 10);
}

}  // namespace
}  // namespace Orvane::Testing
