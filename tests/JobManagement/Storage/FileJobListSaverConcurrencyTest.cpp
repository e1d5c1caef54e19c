#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FileJobListTestKit.h"
#include "JobManagement/Storage/FileJobListProvider.h"
#include "JobManagement/Storage/FileJobListSaver.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"
#include "Support/RunConcurrently.h"

namespace Orvane {
namespace {

using Testing::Identifiers;
using ::testing::IsEmpty;
using Testing::MakeManualJob;
using Testing::Sequence;
using Testing::TStrings;

constexpr int CThreads = 4;
constexpr int CSavesPerThread = 15;
constexpr int CJobsPerSave = 3;

using Testing::RunConcurrently;

std::string JobName(int AThread, int ASave, int AJob) {
  return std::to_string(AThread) + "-" + std::to_string(ASave) + "-" + std::to_string(AJob);
}

class FileJobListSaverConcurrencyTest : public Testing::TFileJobListFixture {};

// Saves from several threads through one saver run one after another: each save's events come as
// one run (its items, then "saved"), none is swallowed by another save switching the events off,
// and the file always holds one complete list.
TEST_F(FileJobListSaverConcurrencyTest, SavesThroughOneSaverRunOneAtATime) {
  const auto LSaver = std::make_shared<TFileJobListSaverForQueue<TScannerJobAction>>(FPathProvider);
  TMutex LTrailLock;
  TStrings LTrail;
  LSaver->GetAfterSaveItem().Add([&](const TJobPtr& AJob) {
    TMutexLock LGuard(LTrailLock);
    LTrail.push_back(AJob->GetIdentifier());
  });
  LSaver->GetAfterSave().Add([&](TOrvaneObject*) {
    TMutexLock LGuard(LTrailLock);
    LTrail.push_back("saved");
  });

  std::vector<std::function<void()>> LBodies;
  for (int LThread = 0; LThread < CThreads; ++LThread) {
    LBodies.push_back([&, LThread] {
      for (int LSave = 0; LSave < CSavesPerThread; ++LSave) {
        TJobList LJobs;
        for (int LJob = 0; LJob < CJobsPerSave; ++LJob)
          LJobs.push_back(MakeManualJob(JobName(LThread, LSave, LJob)));
        LSaver->SaveItems(Sequence(LJobs));
        const TStrings LOnDisk = Identifiers(Testing::LoadJobs(QueueFile()));
        ASSERT_EQ(LOnDisk.size(), static_cast<std::size_t>(CJobsPerSave));
        for (int LJob = 1; LJob < CJobsPerSave; ++LJob)
          EXPECT_EQ(LOnDisk[LJob].substr(0, LOnDisk[LJob].rfind('-')),
                    LOnDisk[0].substr(0, LOnDisk[0].rfind('-')));
      }
    });
  }
  RunConcurrently(LBodies);

  TMutexLock LGuard(LTrailLock);
  ASSERT_EQ(LTrail.size(), static_cast<std::size_t>(CThreads * CSavesPerThread * (CJobsPerSave + 1)));
  for (std::size_t LStart = 0; LStart < LTrail.size(); LStart += CJobsPerSave + 1) {
    const std::string LSave = LTrail[LStart].substr(0, LTrail[LStart].rfind('-'));
    for (int LJob = 0; LJob < CJobsPerSave; ++LJob)
      EXPECT_EQ(LTrail[LStart + LJob], LSave + "-" + std::to_string(LJob));
    EXPECT_EQ(LTrail[LStart + CJobsPerSave], "saved");
  }
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
}

TEST_F(FileJobListSaverConcurrencyTest, LoadsAtOnceReadTheFileOnce) {
  TFileJobListSaverForQueue<TScannerJobAction>(FPathProvider)
      .SaveItems(Sequence({MakeManualJob("a", 2), MakeManualJob("b", 1)}));
  const auto LLoader = std::make_shared<TFileJobListProviderForQueue<TScannerJobAction>>(FPathProvider);
  FLog->Clear();

  std::vector<std::function<void()>> LBodies(CThreads, [&] { EXPECT_EQ(LLoader->LoadData(), 0); });
  RunConcurrently(LBodies);

  EXPECT_EQ(Identifiers(LLoader->GetItemList()), (TStrings{"b", "a"}));
  EXPECT_EQ(FLog->Count(TLogEntryKind::TraceEnter, "LoadQueuedManualJobs"), 1);
  EXPECT_THAT(FLog->Texts(TLogEntryKind::Exception), IsEmpty());
}

}  // namespace
}  // namespace Orvane
