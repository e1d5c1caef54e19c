#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "Support/EngineMocks.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

TJobPtr IntervalJob(int AIndex) {
  auto LCondition = std::make_shared<TStartConditionInterval>();
  LCondition->SetIntervalValue(5);
  LCondition->SetMaxSplaySeconds(600);
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("{00000000-0000-4000-8000-" + std::to_string(100000000000 + AIndex) + "}");
  LJob->GetStartCondition()->AddCondition(LCondition);
  return LJob;
}

// The job service saves the storages (under the provider's lock) whenever a job finishes, while
// the scheduler evaluates other jobs and processors record their runs without that lock. The
// storage values are atomics, so the save reads each one whole, before or after a change.
TEST(StartConditionStorageManagerConcurrencyTest, SavesRunBesideEvaluationsAndRecordedRuns) {
  RemoveAllLogSinks();
  Testing::TTempDir LDir("orvane-condstore-conc");
  ASSERT_FALSE(LDir.Path().empty());
  const std::string LPath = LDir.Path() + "/ConditionStorage.xml";
  constexpr int CJobCount = 20;

  auto LManager = std::make_shared<TFileStartConditionStorageManagerNoFilePermissions<>>(LPath);
  auto LProvider = std::make_shared<Testing::TScriptedJobListProvider>(nullptr, nullptr, LManager, nullptr,
                                                                       nullptr, "StorageConcurrencyTest");
  for (int I = 0; I < CJobCount; ++I) LProvider->Source.push_back(IntervalJob(I));
  const TJobList LJobs = LProvider->FetchJobList();
  ASSERT_EQ(LJobs.size(), static_cast<std::size_t>(CJobCount));

  std::vector<std::thread> LThreads;
  LThreads.emplace_back([&] {
    for (int LRound = 0; LRound < 30; ++LRound) LProvider->SaveConditionStorages();
  });
  LThreads.emplace_back([&] {
    for (int LRound = 0; LRound < 30; ++LRound)
      for (const TJobPtr& LJob : LJobs) LJob->GetStartCondition()->CalcNextExecution(Now());
  });
  LThreads.emplace_back([&] {
    for (int LRound = 0; LRound < 30; ++LRound)
      for (const TJobPtr& LJob : LJobs) LJob->GetStartCondition()->SetAlreadyRunFlag(true);
  });
  for (std::thread& LThread : LThreads) LThread.join();

  // The last save after the work has the final values.
  LProvider->SaveConditionStorages();
  auto LRestarted = std::make_shared<TFileStartConditionStorageManagerNoFilePermissions<>>(LPath);
  LRestarted->LoadConditionStorages();
  for (const TJobPtr& LJob : LJobs) {
    TJobPtr LCopy = IntervalJob(0);
    LCopy->SetIdentifier(LJob->GetIdentifier());
    LRestarted->RegisterJob(LCopy);
    const TStartConditionStorage& LLive = *LJob->GetStartCondition()->GetStorages()->front();
    const TStartConditionStorage& LBack = *LCopy->GetStartCondition()->GetStorages()->front();
    EXPECT_EQ(LBack.GetLastRun(), LLive.GetLastRun());
    EXPECT_EQ(LBack.GetSplaySeconds(), LLive.GetSplaySeconds());
    EXPECT_EQ(LBack.GetAnchor(), LLive.GetAnchor());
  }
}

}  // namespace
}  // namespace Orvane
