#include <gmock/gmock.h>

#include <cerrno>
#include <string>
#include <vector>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "Support/EngineMocks.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/TestConditions.h"

namespace Orvane::Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using TStrings = std::vector<std::string>;

// A job with one start condition, enabled unless AEnabled says otherwise.
TJobPtr MakeJob(const std::string& AId, TJobShape AShape = {}, bool AEnabled = true) {
  AShape.Condition = FixedCondition(CNoDateTime);
  AShape.Condition->Enabled = AEnabled;
  return NewJob(AId, AShape);
}

// Automatic jobs of the given identifiers.
TJobList Jobs(std::initializer_list<const char*> AIdentifiers) {
  TJobList LJobs;
  for (const char* LIdentifier : AIdentifiers) LJobs.push_back(MakeJob(LIdentifier));
  return LJobs;
}

class CustomJobListProviderTest : public ::testing::Test {
protected:
  // Loads ASource at the next fetch and returns that fetch.
  TJobList Reload(TJobList ASource) {
    FProvider->Source = std::move(ASource);
    FProvider->SetLoadListFromServerOnNextFetch(true);
    return FProvider->FetchJobList();
  }
  TJobListSnapshot Snapshot() { return FProvider->CreateSnapshot(); }

  TLogCapture FLog;
  std::shared_ptr<TRecordingStorageManager> FManager = std::make_shared<TRecordingStorageManager>();
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  std::shared_ptr<TRecordingJobLoader> FLoader = std::make_shared<TRecordingJobLoader>();
  std::shared_ptr<TScriptedJobListProvider> FProvider = std::make_shared<TScriptedJobListProvider>(
      nullptr, std::make_shared<TSystemRunInfo>(), FManager, FSaver, FLoader, "CustomJobListProviderTest");
};

// A queued or running job is not written to while other threads use it; the newer definition is
// assigned by the first fetch that finds the job idle. Due time and state stay the job's own.
TEST_F(CustomJobListProviderTest, UpdateTakesTheNewDefinitionOnceTheJobIsIdleAndKeepsDueTimeAndState) {
  const TJobPtr LJob = Reload({MakeJob("a", {.Order = 1, .Text = "Old"})}).front();
  LJob->SetExecState(TJobExecState::Running);
  LJob->SetNextExecution(50.0);
  EXPECT_THAT(Reload({MakeJob("a", {.Text = "Newer"})}), ElementsAre(LJob));
  Reload({MakeJob("A", {.Order = 5, .Text = "Newest"})});
  EXPECT_EQ(LJob->GetDisplayText(), "Old");

  LJob->SetExecState(TJobExecState::Finished);
  EXPECT_THAT(FProvider->FetchJobList(), ElementsAre(LJob));
  EXPECT_EQ(LJob->GetDisplayText(), "Newest");
  EXPECT_EQ(LJob->GetOrder(), 5);
  EXPECT_EQ(LJob->GetNextExecution(), 50.0);
  EXPECT_EQ(LJob->GetExecState(), TJobExecState::Finished);
}

// A job that leaves the source while in use waits on the cleanup list, handed out no more: it is
// dropped by the first fetch that finds it idle, or by a later merge (taking its entry with it),
// and stays as itself when the source has it again before.
TEST_F(CustomJobListProviderTest, JobThatLeavesTheSourceWhileInUseIsDroppedOnceIdleUnlessItComesBack) {
  TJobList LJobs = Reload(Jobs({"a", "b", "c", "d"}));
  for (const TJobPtr& LJob : LJobs) LJob->SetExecState(TJobExecState::Queued);
  EXPECT_THAT(Identifiers(Reload(Jobs({"a"}))), ElementsAre("a"));
  LJobs[1]->SetExecState(TJobExecState::Running);  // still in use at the next reload: listed once
  EXPECT_THAT(Reload(Jobs({"a", "D"})), ElementsAre(LJobs[0], LJobs[3]));
  EXPECT_THAT(Identifiers(Snapshot().CleanupList), UnorderedElementsAre("b", "c"));
  EXPECT_THAT(FManager->Unregistered(), IsEmpty());
  // Idle now: d takes the definition it came back with, c is dropped by the merge.
  LJobs[2]->SetExecState(TJobExecState::Idle);
  LJobs[3]->SetExecState(TJobExecState::Idle);
  EXPECT_THAT(Reload(Jobs({"a", "D"})), ElementsAre(LJobs[0], LJobs[3]));
  EXPECT_EQ(LJobs[3]->GetIdentifier(), "D");
  EXPECT_THAT(Identifiers(Snapshot().CleanupList), ElementsAre("b"));
  LJobs[1]->SetExecState(TJobExecState::Finished);
  const std::weak_ptr<TJob> LB = LJobs[1], LC = LJobs[2];
  LJobs.clear();
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("a", "D"));
  EXPECT_THAT(FManager->Unregistered(), ElementsAre("c", "b"));
  EXPECT_THAT(Snapshot().CleanupList, IsEmpty());
  EXPECT_TRUE(LB.expired() && LC.expired());
}

// A job with a disabled condition neither enters nor changes the list; an empty load drops the
// idle automatic jobs; a load of manual jobs only leaves them alone.
TEST_F(CustomJobListProviderTest,
       DisabledJobsStayOutEmptyLoadDropsTheIdleJobsAndALoadOfManualJobsLeavesThem) {
  const TJobList LFirst = Reload({MakeJob("a", {.Text = "Old"}), MakeJob("b"), MakeJob("c")});
  EXPECT_THAT(Identifiers(Reload({MakeJob("a", {.Text = "New"}, false), MakeJob("b"), MakeJob("c"),
                                  MakeJob("d", {}, false)})),
              ElementsAre("a", "b", "c"));
  EXPECT_EQ(LFirst[0]->GetDisplayText(), "Old");
  LFirst[1]->SetExecState(TJobExecState::Running);
  EXPECT_THAT(Reload({}), IsEmpty());
  EXPECT_THAT(Identifiers(Snapshot().AutoJobs), ElementsAre("b"));
  EXPECT_THAT(FManager->Unregistered(), UnorderedElementsAre("a", "c"));
  EXPECT_THAT(Identifiers(Reload(Jobs({"d"}))), ElementsAre("d"));
  EXPECT_THAT(Identifiers(Reload({MakeJob("x", {.Manual = true})})), ElementsAre("d"));
  EXPECT_THAT(Identifiers(Reload({MakeJob("e"), MakeJob("y", {.Manual = true})})), ElementsAre("e"));
  EXPECT_THAT(FManager->Registered(), ElementsAre("a", "b", "c", "d", "e"));
}

// A failed load changes nothing and stays pending; the jobs held still run. Two loaded jobs with one
// identifier fail the whole merge; a raising source is asked again at every fetch (one that fails
// without raising is the agent-task provider's failed request).
TEST_F(CustomJobListProviderTest,
       FailedLoadChangesNothingWhileTheHeldJobsStillRunAndIsAskedAgainAtEveryFetch) {
  const TJobPtr LJob = Reload({MakeJob("a", {.Text = "Old"}), MakeJob("b")}).front();
  FProvider->AddManualJob(MakeJob("m"));
  EXPECT_THAT(Identifiers(Reload({MakeJob("a", {.Text = "New"}), MakeJob("x"), MakeJob("X")})),
              ElementsAre("m", "a", "b"));
  EXPECT_EQ(LJob->GetDisplayText(), "Old");
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, "Duplicate job identifier"));
  FProvider->Raise = true;
  EXPECT_THAT(Identifiers(Reload({})), ElementsAre("m", "a", "b"));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("m", "a", "b"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Exception, "The job source cannot be read"), 2);
  EXPECT_THAT(FManager->Unregistered(), IsEmpty());
  FProvider->Raise = false;
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("m"));
  EXPECT_FALSE(FProvider->GetLoadListFromServerOnNextFetch());
  EXPECT_EQ(FProvider->LoadCount.load(), 5);
  EXPECT_EQ(FManager->Loads(), 2);
}

// Any object with the identifier (letter case aside) stands for the job.
TEST_F(CustomJobListProviderTest, RemovingAManualJobAnnouncesItAndRewritesBothFilesEvenWhenItIsNotListed) {
  FProvider->AddManualJob(MakeJob("m1", {.Task = "{M1}"}));
  FProvider->AddManualJob(MakeJob("m2"));
  int LAnnounced = 0;
  FProvider->GetOnBeforeManualJobRemoved().Add([&](const TJobPtr&) { ++LAnnounced; });
  FProvider->RemoveManualJob(MakeJob("other"));
  EXPECT_EQ(FManager->Saves(), 1);
  EXPECT_EQ(FSaver->SaveCount(), 3);
  FProvider->RemoveManualJob(MakeJob("M1"));
  EXPECT_EQ(LAnnounced, 2);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("m2"));
}

// Manual jobs come first, in the order added, then the automatic ones by Order. The source runs
// under the fetch's lock: it may add manual jobs, and a reload it asks for is not lost.
TEST_F(CustomJobListProviderTest, FetchListsManualJobsFirstAndKeepsAReloadAskedForDuringTheLoad) {
  FProvider->AddManualJob(MakeJob("m2"));
  FProvider->AddManualJob(MakeJob("m1"));
  FProvider->OnLoad = [this] {
    FProvider->AddManualJob(MakeJob("from-source"));
    FProvider->SetLoadListFromServerOnNextFetch(true);
  };
  EXPECT_THAT(Identifiers(Reload(
                  {MakeJob("c", {.Order = 3}), MakeJob("a", {.Order = -1}), MakeJob("b", {.Order = 2})})),
              ElementsAre("m2", "m1", "from-source", "a", "b", "c"));
  EXPECT_TRUE(FProvider->GetLoadListFromServerOnNextFetch());
  FProvider->OnLoad = nullptr;
  FProvider->FetchJobList();
  EXPECT_FALSE(FProvider->GetLoadListFromServerOnNextFetch());
  FProvider->FetchJobList();  // without a pending reload the source is not asked again
  EXPECT_EQ(FProvider->LoadCount.load(), 2);
}

// A save before the first fetch (a stop during the start delay, a job added then) rewrites the
// file the stored jobs are still in: they are taken over first, also those that share the new
// job's identifier (two enqueues of one task).
TEST_F(CustomJobListProviderTest, SavesBeforeTheFirstFetchKeepTheStoredManualJobs) {
  FLoader->Items = {MakeJob("task", {.Manual = true}), MakeJob("other", {.Manual = true})};
  EXPECT_EQ(FProvider->SaveQueuedManualJobs(), 0);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("task", "other"));

  FProvider->AddManualJob(MakeJob("TASK"));
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("task", "other", "TASK"));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("task", "other", "TASK"));
}

// Success means the job is on disk: it is announced only after its save, and a job that could not
// be saved is dropped again, so that asking once more makes exactly one.
TEST_F(CustomJobListProviderTest, ManualJobIsAnnouncedAfterItsSaveAndNotKeptWhenTheSaveFails) {
  FProvider->AddManualJob(MakeJob("kept"));
  std::vector<TStrings> LSavedWhenAnnounced;
  FProvider->GetOnManualJobsChanged().Add(
      [&](const TJobPtr&) { LSavedWhenAnnounced.push_back(FSaver->LastSave()); });

  FSaver->Result = ENOSPC;
  EXPECT_EQ(FProvider->AddManualJob(MakeJob("new")), ENOSPC);
  EXPECT_THAT(FSaver->LastSave(), ElementsAre("kept", "new"));
  EXPECT_THAT(Identifiers(FProvider->CreateSnapshot().ManualJobs), ElementsAre("kept"));
  EXPECT_THAT(LSavedWhenAnnounced, IsEmpty());
  EXPECT_TRUE(
      FLog->Contains(TLogEntryKind::Error, "Manual job not added, it could not be saved: \"Job new\""));
  EXPECT_EQ(FProvider->SaveQueuedManualJobs(), ENOSPC);

  FSaver->Result = 0;
  EXPECT_EQ(FProvider->AddManualJob(MakeJob("new")), 0);
  EXPECT_THAT(LSavedWhenAnnounced, ElementsAre(ElementsAre("kept", "new")));
  EXPECT_THAT(Identifiers(FProvider->FetchJobList()), ElementsAre("kept", "new"));
}

}  // namespace
}  // namespace Orvane::Testing
