#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "FileJobListTestKit.h"
#include "JobManagement/Storage/FilePermissionUtils.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "Support/EngineMocks.h"
#include "Support/RunConcurrently.h"

namespace Orvane::Testing {
namespace {

constexpr int CThreads = 4;

// "<thread>-<save>" of a job named "<thread>-<save>-<job>".
std::string SaveOf(const std::string& AJobName) {
  return AJobName.substr(0, AJobName.rfind('-'));
}

using FileJobListSaverConcurrencyTest = TFileJobListFixture;
using FilePermissionUtilsConcurrencyTest = TFileJobListFixture;
using StartConditionStorageManagerConcurrencyTest = TFileJobListFixture;

// Saves from several threads through one saver run one after another: each save's events come as
// one run (its items, then "saved"), none is swallowed by another save switching the events off,
// and the file always holds one complete list.
TEST_F(FileJobListSaverConcurrencyTest, SavesThroughOneSaverRunOneAtATime) {
  constexpr int CSaves = 15, CJobs = 3;
  const auto LSaver = std::make_shared<TFileJobListSaverForQueue<TScannerJobAction>>(FPathProvider);
  // Written only by the saver's events, which run under its save lock: unguarded on purpose.
  TStrings LTrail;
  LSaver->GetAfterSaveItem().Add([&](const TJobPtr& AJob) { LTrail.push_back(AJob->GetIdentifier()); });
  LSaver->GetAfterSave().Add([&](TOrvaneObject*) { LTrail.push_back("saved"); });
  std::vector<std::function<void()>> LBodies;
  for (int LThread = 0; LThread < CThreads; ++LThread) {
    LBodies.push_back([&, LThread] {
      for (int LSave = 0; LSave < CSaves; ++LSave) {
        TJobList LJobs;
        for (int LJob = 0; LJob < CJobs; ++LJob)
          LJobs.push_back(MakeManualJob(std::to_string(LThread) + "-" + std::to_string(LSave) + "-" +
                                        std::to_string(LJob)));
        LSaver->SaveItems(Sequence(LJobs));
        const TStrings LOnDisk = Identifiers(LoadJobs(QueueFile()));
        ASSERT_EQ(LOnDisk.size(), static_cast<std::size_t>(CJobs));
        for (int LJob = 1; LJob < CJobs; ++LJob) EXPECT_EQ(SaveOf(LOnDisk[LJob]), SaveOf(LOnDisk[0]));
      }
    });
  }
  RunConcurrently(LBodies);
  ASSERT_EQ(LTrail.size(), static_cast<std::size_t>(CThreads * CSaves * (CJobs + 1)));
  for (std::size_t LStart = 0; LStart < LTrail.size(); LStart += CJobs + 1) {
    for (int LJob = 0; LJob < CJobs; ++LJob)
      EXPECT_EQ(LTrail[LStart + LJob], SaveOf(LTrail[LStart]) + "-" + std::to_string(LJob));
    EXPECT_EQ(LTrail[LStart + CJobs], "saved");
  }
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
}

TEST_F(FileJobListSaverConcurrencyTest, LoadsAtOnceReadTheFileOnce) {
  TFileJobListSaverForQueue<TScannerJobAction>(FPathProvider)
      .SaveItems(Sequence({MakeManualJob("a", 2), MakeManualJob("b", 1)}));
  const auto LLoader = std::make_shared<TFileJobListProviderForQueue<TScannerJobAction>>(FPathProvider);
  FLog->Clear();
  RunConcurrently(std::vector<std::function<void()>>(CThreads, [&] { EXPECT_EQ(LLoader->LoadData(), 0); }));
  EXPECT_EQ(Identifiers(LLoader->GetItemList()), (TStrings{"b", "a"}));
  EXPECT_EQ(FLog->Count(TLogEntryKind::TraceEnter, "LoadQueuedManualJobs"), 1);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
}

// Calls on several threads load and unload the plug-in independently: each gets its own grant and
// the plug-in is gone when the last call has returned.
TEST_F(FilePermissionUtilsConcurrencyTest, ConcurrentCallsEachLoadAndUnloadThePlugin) {
  constexpr int CRounds = 40;
  std::atomic<int> LWrongModes{0};
  std::vector<std::function<void()>> LBodies;
  for (int LIndex = 0; LIndex < CThreads; ++LIndex) {
    LBodies.push_back([&, LIndex] {
      const std::string LFile = FData.Path() + "/file" + std::to_string(LIndex);
      WriteFile(LFile, "x");
      for (int LRound = 0; LRound < CRounds; ++LRound) {
        const bool LWrite = (LRound + LIndex) % 2 == 0;
#ifdef _WIN32
        SetAllRightsForEverybody(LFile, LWrite);
#else
        chmod(LFile.c_str(), 0600);
        SetAllRightsForEverybody(LFile, LWrite);
        if (ModeOf(LFile) != (LWrite ? 0666u : 0644u)) ++LWrongModes;
#endif
      }
    });
  }
  RunConcurrently(LBodies);
  EXPECT_EQ(LWrongModes.load(), 0);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Message, "failed"), 0);
  EXPECT_FALSE(IsLibraryLoaded(FilePermissionsPluginFileName()));
}

// The job service saves the storages (under the provider's lock) whenever a job finishes, while
// the scheduler evaluates other jobs and processors record their runs without that lock. The
// storage values are atomics, so the save reads each one whole, before or after a change.
TEST_F(StartConditionStorageManagerConcurrencyTest, SavesRunBesideEvaluationsAndRecordedRuns) {
  const auto IntervalJob = [](const std::string& AIdentifier) {
    auto LCondition = std::make_shared<TStartConditionInterval>();
    LCondition->SetIntervalValue(5);
    LCondition->SetMaxSplaySeconds(600);
    return NewJob(AIdentifier, {.Condition = LCondition});
  };
  const std::string LPath = FData.Path() + "/ConditionStorage.xml";
  auto LManager = std::make_shared<TFileStartConditionStorageManagerNoFilePermissions<>>(LPath);
  auto LProvider = std::make_shared<TScriptedJobListProvider>(nullptr, nullptr, LManager, nullptr, nullptr,
                                                              "StorageConcurrencyTest");
  for (int I = 0; I < 20; ++I)
    LProvider->Source.push_back(
        IntervalJob("{00000000-0000-4000-8000-" + std::to_string(100000000000 + I) + "}"));
  const TJobList LJobs = LProvider->FetchJobList();
  ASSERT_EQ(LJobs.size(), 20u);
  RemoveAllLogSinks();

  const auto Rounds = [](std::function<void()> ABody) {
    return [ABody] {
      for (int LRound = 0; LRound < 30; ++LRound) ABody();
    };
  };
  RunConcurrently({Rounds([&] { LProvider->SaveConditionStorages(); }), Rounds([&] {
                     for (const TJobPtr& LJob : LJobs) LJob->GetStartCondition()->CalcNextExecution(Now());
                   }),
                   Rounds([&] {
                     for (const TJobPtr& LJob : LJobs) LJob->GetStartCondition()->SetAlreadyRunFlag(true);
                   })});

  // The last save after the work has the final values.
  LProvider->SaveConditionStorages();
  auto LRestarted = std::make_shared<TFileStartConditionStorageManagerNoFilePermissions<>>(LPath);
  LRestarted->LoadConditionStorages();
  for (const TJobPtr& LJob : LJobs) {
    TJobPtr LCopy = IntervalJob(LJob->GetIdentifier());
    LRestarted->RegisterJob(LCopy);
    const auto State = [](const TJobPtr& A) {
      const TStartConditionStorage& L = *A->GetStartCondition()->GetStorages()->front();
      return std::tuple(L.GetLastRun(), L.GetSplaySeconds(), L.GetAnchor());
    };
    EXPECT_EQ(State(LCopy), State(LJob));
  }
}

}  // namespace
}  // namespace Orvane::Testing
