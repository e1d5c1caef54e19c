#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/EngineMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Testing::TRecordingJobLoader;
using Testing::TRecordingJobSaver;
using Testing::TRecordingStorageManager;
using Testing::TScriptedJobListProvider;
using ::testing::UnorderedElementsAre;
using TStrings = std::vector<std::string>;

struct TJobOptions {
  std::string Identifier;
  int32_t Order = 0;
  std::string DisplayText = {};  // "" gives "Job <identifier>"
  bool Enabled = true;           // of its one start condition
  bool IsManual = false;
};

TJobPtr MakeJob(const TJobOptions& AOptions) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AOptions.Identifier);
  LJob->SetDisplayText(AOptions.DisplayText.empty() ? "Job " + AOptions.Identifier : AOptions.DisplayText);
  LJob->SetOrder(AOptions.Order);
  LJob->SetIsManual(AOptions.IsManual);
  auto LCondition = Testing::FixedCondition(CNoDateTime);
  LCondition->Enabled = AOptions.Enabled;
  LJob->GetStartCondition()->AddCondition(LCondition);
  return LJob;
}

using Testing::Identifiers;

TJobPtr Find(const TJobList& AJobs, const std::string& AIdentifier) {
  for (const TJobPtr& LJob : AJobs)
    if (LJob->GetIdentifier() == AIdentifier) return LJob;
  return nullptr;
}

class CustomJobListProviderTest : public ::testing::Test {
protected:

  // Loads ASource at the next fetch and returns that fetch.
  TJobList Reload(TJobList ASource) {
    FProvider->Source = std::move(ASource);
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }

  Testing::TLogCapture FLog;
  std::shared_ptr<TRecordingStorageManager> FManager = std::make_shared<TRecordingStorageManager>();
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  std::shared_ptr<TRecordingJobLoader> FLoader = std::make_shared<TRecordingJobLoader>();
  TSystemRunInfoPtr FRunInfo = std::make_shared<TSystemRunInfo>();
  std::shared_ptr<TScriptedJobListProvider> FProvider = std::make_shared<TScriptedJobListProvider>(
      nullptr, FRunInfo, FManager, FSaver, FLoader, "CustomJobListProviderTest");
};

TEST_F(CustomJobListProviderTest, FetchHandsOutManualJobsFirstThenAutomaticJobsByOrder) {
  FProvider->AddManualJob(MakeJob({.Identifier = "m2"}));
  FProvider->AddManualJob(MakeJob({.Identifier = "m1"}));
  const TJobList LFetched =
      Reload({MakeJob({.Identifier = "c", .Order = 3}), MakeJob({.Identifier = "a", .Order = -1}),
              MakeJob({.Identifier = "b", .Order = 2})});

  EXPECT_THAT(Identifiers(LFetched), ElementsAre("m2", "m1", "a", "b", "c"));
  EXPECT_THAT(FManager->Registered(), ElementsAre("c", "a", "b"));
  EXPECT_EQ(FManager->Loads(), 1);
  EXPECT_FALSE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_EQ(FLog->Entries().back().Text, "Fetched jobs");
  EXPECT_EQ(FLog->Entries().back().Value, "5");
  // Without a pending reload the source is not asked again.
  FProvider->FetchJobList();
  EXPECT_EQ(FProvider->LoadCount.load(), 1);
}

// A queued or running job is not written to while other threads use it; the newer definition is
// assigned by the first fetch that finds the job idle. Due time and state stay the job's own.
TEST_F(CustomJobListProviderTest, UpdateTakesTheNewDefinitionOnceTheJobIsIdleAndKeepsDueTimeAndState) {
  const TJobPtr LJob = Reload({MakeJob({.Identifier = "a", .Order = 1, .DisplayText = "Old"})}).front();
  LJob->SetExecState(TJobExecState::Running);
  LJob->SetNextExecution(50.0);

  EXPECT_THAT(Identifiers(Reload({MakeJob({.Identifier = "a", .DisplayText = "Newer"})})), ElementsAre("a"));
  Reload({MakeJob({.Identifier = "A", .Order = 5, .DisplayText = "Newest"})});
  EXPECT_EQ(LJob->GetDisplayText(), "Old");

  LJob->SetExecState(TJobExecState::Finished);
  const TJobList LFetched = FProvider->FetchJobList();
  ASSERT_EQ(LFetched.size(), 1u);
  EXPECT_EQ(LFetched.front(), LJob);
  EXPECT_EQ(LJob->GetDisplayText(), "Newest");
  EXPECT_EQ(LJob->GetOrder(), 5);
  EXPECT_EQ(LJob->GetNextExecution(), 50.0);
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Finished);
  EXPECT_THAT(FManager->Registered(), ElementsAre("a"));
}

TEST_F(CustomJobListProviderTest,
       JobThatLeavesTheSourceWhileQueuedStaysUntilIdleThenIsDroppedAndUnregistered) {
  TJobPtr LJob = Find(Reload({MakeJob({.Identifier = "a"}), MakeJob({.Identifier = "b"})}), "b");
  LJob->SetExecState(TJobExecState::Queued);
  EXPECT_THAT(Identifiers(Reload({MakeJob({.Identifier = "a"})})), ElementsAre("a"));
  // Still in use at the next reload: it waits on the cleanup list once.
  LJob->SetExecState(TJobExecState::Running);
  EXPECT_THAT(Identifiers(Reload({MakeJob({.Identifier = "a"})})), ElementsAre("a"));
  const TJobListSnapshot LWaiting = FProvider->CreateSnapshot();
  EXPECT_THAT(Identifiers(LWaiting.AutoJobs), ElementsAre("a", "b"));
  EXPECT_THAT(Identifiers(LWaiting.CleanupList), ElementsAre("b"));
  EXPECT_THAT(FManager->Unregistered(), IsEmpty());

  LJob->SetExecState(TJobExecState::Finished);
  const std::weak_ptr<TJob> LGone = LJob;
  LJob.reset();
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("a"));
  EXPECT_THAT(FManager->Unregistered(), ElementsAre("b"));
  EXPECT_THAT(FProvider->CreateSnapshot().CleanupList, IsEmpty());
  EXPECT_TRUE(LGone.expired());
}

TEST_F(CustomJobListProviderTest, JobThatComesBackBeforeItIsIdleIsHandedOutAgain) {
  const TJobPtr LJob = Find(Reload({MakeJob({.Identifier = "a"}), MakeJob({.Identifier = "b"})}), "b");
  LJob->SetExecState(TJobExecState::Queued);
  Reload({MakeJob({.Identifier = "a"})});

  const TJobList LBack = Reload({MakeJob({.Identifier = "a"}), MakeJob({.Identifier = "B"})});
  EXPECT_THAT(Identifiers(LBack), ElementsAre("a", "b"));
  EXPECT_EQ(Find(LBack, "b"), LJob);
  // Once idle, the job stays and takes the definition it came back with.
  LJob->SetExecState(TJobExecState::Idle);
  const TJobList LLater = FProvider->FetchJobList();
  EXPECT_THAT(Identifiers(LLater), ElementsAre("a", "B"));
  EXPECT_EQ(LLater.back(), LJob);
  EXPECT_THAT(FManager->Unregistered(), IsEmpty());
}

// A waiting job that a later merge drops (idle by then, still absent from the source) takes its
// cleanup entry with it, so the list never refers to a job the provider no longer holds.
TEST_F(CustomJobListProviderTest, JobDroppedByALaterMergeLeavesNoCleanupEntry) {
  TJobPtr LJob = Find(Reload({MakeJob({.Identifier = "a"}), MakeJob({.Identifier = "b"})}), "b");
  LJob->SetExecState(TJobExecState::Queued);
  Reload({MakeJob({.Identifier = "a"})});
  LJob->SetExecState(TJobExecState::Idle);
  FProvider->Source = {MakeJob({.Identifier = "a"})};
  FProvider->SetLoadListFromServerOnNextFetch(true);
  const std::weak_ptr<TJob> LGone = LJob;
  LJob.reset();

  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("a"));
  EXPECT_THAT(FManager->Unregistered(), ElementsAre("b"));
  EXPECT_THAT(FProvider->CreateSnapshot().CleanupList, IsEmpty());
  EXPECT_TRUE(LGone.expired());
}

TEST_F(CustomJobListProviderTest, LoadedJobWithADisabledStartConditionNeitherEntersNorChangesTheList) {
  const TJobPtr LJob = Reload({MakeJob({.Identifier = "a", .DisplayText = "Old"})}).front();

  const TJobList LFetched = Reload({MakeJob({.Identifier = "a", .DisplayText = "New", .Enabled = false}),
                                    MakeJob({.Identifier = "d", .Enabled = false})});

  EXPECT_THAT(Identifiers(LFetched), ElementsAre("a"));
  EXPECT_EQ(LJob->GetDisplayText(), "Old");
  EXPECT_THAT(FManager->Registered(), ElementsAre("a"));
}

TEST_F(CustomJobListProviderTest, TwoLoadedJobsWithOneIdentifierFailTheWholeMergeAndChangeNothing) {
  const TJobPtr LJob =
      Find(Reload({MakeJob({.Identifier = "a", .DisplayText = "Old"}), MakeJob({.Identifier = "b"})}), "a");

  const TJobList LFetched = Reload({MakeJob({.Identifier = "a", .DisplayText = "New"}),
                                    MakeJob({.Identifier = "x"}), MakeJob({.Identifier = "X"})});

  // The jobs held still run; nothing of the merge happened, and the reload stays pending.
  EXPECT_THAT(Identifiers(LFetched), ElementsAre("a", "b"));
  EXPECT_EQ(LJob->GetDisplayText(), "Old");
  EXPECT_THAT(FManager->Registered(), ElementsAre("a", "b"));
  EXPECT_THAT(FManager->Unregistered(), IsEmpty());
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  const int LFailure = FLog->IndexOf(TLogEntryKind::Exception, "Duplicate job identifier");
  ASSERT_GE(LFailure, 0);
  EXPECT_EQ(FLog->Entries()[static_cast<size_t>(LFailure)].Value, "TCustomJobListProvider.FetchJobList");
}

TEST_F(CustomJobListProviderTest, FailingSourceIsAskedAgainAtEveryFetchWhileTheHeldJobsStillRun) {
  Reload({MakeJob({.Identifier = "a"})});
  FProvider->AddManualJob(MakeJob({.Identifier = "m"}));

  FProvider->Fail = true;
  EXPECT_THAT(Identifiers(Reload({})), ElementsAre("m", "a"));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("m", "a"));
  EXPECT_EQ(FProvider->LoadCount.load(), 3);
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());

  FProvider->Fail = false;
  FProvider->Raise = true;
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("m", "a"));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("m", "a"));
  EXPECT_EQ(FProvider->LoadCount.load(), 5);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Exception, "The job source cannot be read"), 2);
  EXPECT_EQ(FLog->Entries()[static_cast<size_t>(FLog->IndexOf(TLogEntryKind::Exception))].Value,
            "TCustomJobListProvider.FetchJobList");

  FProvider->Raise = false;
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("m"));
  EXPECT_FALSE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_EQ(FManager->Loads(), 2);
}

// An empty load drops the idle automatic jobs; a load of manual jobs only leaves them alone.
TEST_F(CustomJobListProviderTest, EmptyLoadDropsTheIdleAutomaticJobsAndALoadOfManualJobsLeavesThem) {
  const TJobList LFirst =
      Reload({MakeJob({.Identifier = "a"}), MakeJob({.Identifier = "b"}), MakeJob({.Identifier = "c"})});
  Find(LFirst, "b")->SetExecState(TJobExecState::Running);

  EXPECT_THAT(Reload({}), IsEmpty());
  EXPECT_THAT(Identifiers(FProvider->CreateSnapshot().AutoJobs), ElementsAre("b"));
  EXPECT_THAT(FManager->Unregistered(), UnorderedElementsAre("a", "c"));

  EXPECT_THAT(Identifiers(Reload({MakeJob({.Identifier = "d"})})), ElementsAre("d"));
  EXPECT_THAT(Identifiers(Reload({MakeJob({.Identifier = "x", .IsManual = true})})), ElementsAre("d"));
  EXPECT_THAT(
      Identifiers(Reload({MakeJob({.Identifier = "e"}), MakeJob({.Identifier = "y", .IsManual = true})})),
      ElementsAre("e"));
}

TEST_F(CustomJobListProviderTest, AddedManualJobIsPreparedAnnouncedOnceAndSavedWithTheOthers) {
  TStrings LAnnounced;
  FProvider->GetOnManualJobsChanged().Add(
      [&](const TJobPtr& AJob) { LAnnounced.push_back(AJob->GetIdentifier()); });
  FProvider->AddManualJob(MakeJob({.Identifier = "m1"}));
  const TJobPtr LJob = MakeJob({.Identifier = "non-regular", .DisplayText = "Settings"});
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = "{EE727092-AD9C-42F3-B73D-053CAD48C72B}";
  LJob->SetJobAction(LAction);

  FProvider->AddManualJob(LJob);

  EXPECT_THAT(LAnnounced, ElementsAre("m1", "non-regular"));
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("m1", "non-regular"));
  EXPECT_EQ(FSaver->SaveCount(), 2);
  EXPECT_TRUE(LJob->GetIsManual());
  EXPECT_FALSE(LJob->GetIsRegularJob());
  EXPECT_EQ(LJob->GetSystemRunInfo(), FRunInfo);
  const int LNew = FLog->IndexOf(TLogEntryKind::Object, "New manual job: \"Settings\"");
  ASSERT_GE(LNew, 0);
  const std::vector<TLogEntry> LEntries = FLog->Entries();
  EXPECT_EQ(LEntries[static_cast<size_t>(LNew) + 1].Text, "Start condition enabled");
  EXPECT_EQ(LEntries[static_cast<size_t>(LNew) + 1].Value, "true");
  EXPECT_EQ(LEntries[static_cast<size_t>(LNew) + 2].Text, "Job action [TScannerJobAction]");
  EXPECT_EQ(LEntries[static_cast<size_t>(LNew) + 2].ObjectClass, "TScannerJobAction");
}

TEST_F(CustomJobListProviderTest, RemovingAManualJobAnnouncesItAndRewritesBothFilesEvenWhenItIsNotListed) {
  FProvider->AddManualJob(MakeJob({.Identifier = "m1"}));
  FProvider->AddManualJob(MakeJob({.Identifier = "m2"}));
  int LAnnounced = 0;
  FProvider->GetOnBeforeManualJobRemoved().Add([&](const TJobPtr&) { ++LAnnounced; });
  FLog->Clear();

  FProvider->RemoveManualJob(MakeJob({.Identifier = "other"}));
  EXPECT_EQ(LAnnounced, 1);
  EXPECT_EQ(FManager->Saves(), 1);
  EXPECT_EQ(FSaver->SaveCount(), 3);
  const std::vector<TLogEntry> LEntries = FLog->Entries();
  const int LBefore = FLog->IndexOf(TLogEntryKind::Value, "Manual job count before");
  const int LAfter = FLog->IndexOf(TLogEntryKind::Value, "Manual job count after");
  ASSERT_GE(LBefore, 0);
  ASSERT_GE(LAfter, 0);
  EXPECT_EQ(LEntries[static_cast<size_t>(LBefore)].Value, "2");
  EXPECT_EQ(LEntries[static_cast<size_t>(LAfter)].Value, "2");

  // Any object with the identifier (letter case aside) stands for the job.
  FProvider->RemoveManualJob(MakeJob({.Identifier = "M1"}));
  EXPECT_EQ(LAnnounced, 2);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("m2"));
}

TEST_F(CustomJobListProviderTest, NewRunInformationReachesEveryJobAndTheSameOneChangesNothing) {
  FProvider->AddManualJob(MakeJob({.Identifier = "m"}));
  const TJobList LJobs = Reload({MakeJob({.Identifier = "a"}), MakeJob({.Identifier = "b"})});
  Find(LJobs, "b")->SetExecState(TJobExecState::Queued);
  Reload({MakeJob({.Identifier = "a"})});

  const auto LOther = std::make_shared<TSystemRunInfo>();
  for (const TJobPtr& LJob : LJobs) LJob->SetSystemRunInfo(LOther);
  FProvider->SetSystemRunInfo(FRunInfo);
  for (const TJobPtr& LJob : LJobs) EXPECT_EQ(LJob->GetSystemRunInfo(), LOther) << LJob->GetIdentifier();

  const auto LNew = std::make_shared<TSystemRunInfo>();
  FProvider->SetSystemRunInfo(LNew);
  EXPECT_EQ(FProvider->GetSystemRunInfo(), LNew);
  for (const TJobPtr& LJob : LJobs) EXPECT_EQ(LJob->GetSystemRunInfo(), LNew) << LJob->GetIdentifier();
}

TEST_F(CustomJobListProviderTest, StoredManualJobsArriveWithTheFirstReloadAndArePrepared) {
  const TJobPtr LStored = MakeJob({.Identifier = "stored", .IsManual = true});
  // As read from a file that lacks the condition's storage.
  LStored->GetStartCondition()->GetStorages()->clear();
  FLoader->Items = {LStored};

  EXPECT_THAT(Identifiers(Reload({})), ElementsAre("stored"));
  EXPECT_THAT(FLoader->Items, IsEmpty());
  EXPECT_EQ(LStored->GetSystemRunInfo(), FRunInfo);
  EXPECT_EQ(LStored->GetStartCondition()->GetStorages()->size(), 1u);
  EXPECT_EQ(FLoader->LoadCount, 1);
}

// A source that brings manual jobs adds them while the fetch holds the lock.
TEST_F(CustomJobListProviderTest, SourceMayAddManualJobsWhileTheFetchHoldsTheLock) {
  FProvider->OnLoad = [this] { FProvider->AddManualJob(MakeJob({.Identifier = "from-source"})); };
  EXPECT_THAT(Identifiers(Reload({MakeJob({.Identifier = "a"})})), ElementsAre("from-source", "a"));
}

TEST_F(CustomJobListProviderTest, ReloadAskedForWhileTheSourceIsReadIsNotLost) {
  FProvider->OnLoad = [this] { FProvider->SetLoadListFromServerOnNextFetch(true); };
  Reload({});
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  FProvider->OnLoad = nullptr;
  FProvider->FetchJobList();
  EXPECT_FALSE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_EQ(FProvider->LoadCount.load(), 2);
}

}  // namespace
}  // namespace Orvane

namespace Orvane {
namespace {

// A save before the first fetch (a stop during the start delay, a job added then) rewrites the
// file the stored jobs are still in: they are taken over first, also those that share the new
// job's identifier (two enqueues of one task).
TEST_F(CustomJobListProviderTest, SavesBeforeTheFirstFetchKeepTheStoredManualJobs) {
  FLoader->Items = {MakeJob({.Identifier = "task", .IsManual = true}),
                    MakeJob({.Identifier = "other", .IsManual = true})};
  EXPECT_EQ(FProvider->SaveQueuedManualJobs(), 0);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("task", "other"));

  FProvider->AddManualJob(MakeJob({.Identifier = "TASK"}));
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("task", "other", "TASK"));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("task", "other", "TASK"));
}

// Success means the job is on disk: it is announced only after its save, and a job that could not
// be saved is dropped again, so that asking once more makes exactly one.
TEST_F(CustomJobListProviderTest, ManualJobIsAnnouncedAfterItsSaveAndNotKeptWhenTheSaveFails) {
  FProvider->AddManualJob(MakeJob({.Identifier = "kept"}));
  std::vector<TStrings> LSavedWhenAnnounced;
  FProvider->GetOnManualJobsChanged().Add(
      [&](const TJobPtr&) { LSavedWhenAnnounced.push_back(FSaver->LastSave()); });

  FSaver->Result = ENOSPC;
  EXPECT_EQ(FProvider->AddManualJob(MakeJob({.Identifier = "new"})), ENOSPC);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("kept", "new"));
  EXPECT_THAT(Identifiers(FProvider->CreateSnapshot().ManualJobs), ElementsAre("kept"));
  EXPECT_THAT(LSavedWhenAnnounced, IsEmpty());
  EXPECT_TRUE(
      FLog->Contains(TLogEntryKind::Error, "Manual job not added, it could not be saved: \"Job new\""));
  EXPECT_EQ(FProvider->SaveQueuedManualJobs(), ENOSPC);

  FSaver->Result = 0;
  EXPECT_EQ(FProvider->AddManualJob(MakeJob({.Identifier = "new"})), 0);
  EXPECT_THAT(LSavedWhenAnnounced, ElementsAre(ElementsAre("kept", "new")));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("kept", "new"));
}

}  // namespace
}  // namespace Orvane
