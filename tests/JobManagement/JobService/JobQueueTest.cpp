#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "JobManagement/JobService/JobQueue.h"
#include "Support/LogCapture.h"
#include "Support/JobIdentifiers.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Time/DateTime.h"
#include "Support/RecordingJobStorage.h"

namespace Orvane {
namespace {

using Testing::TRecordingJobLoader;
using Testing::TRecordingJobSaver;
using TStrings = std::vector<std::string>;

struct TJobFields {
  std::string Identifier = {};
  bool IsManual = false;
  TDateTime Due = CNoDateTime;
  int32_t Order = 0;
  int32_t QueueIndex = -1;
  std::string ContentId = {};  // the agent task id; "" leaves the identifier as content id
};

TJobPtr MakeJob(const TJobFields& AFields) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AFields.Identifier);
  LJob->SetDisplayText("Job " + AFields.Identifier);
  LJob->SetIsManual(AFields.IsManual);
  LJob->SetNextExecution(AFields.Due);
  LJob->SetOrder(AFields.Order);
  LJob->SetQueueIndex(AFields.QueueIndex);
  if (!AFields.ContentId.empty()) {
    auto LAction = std::make_shared<TScannerJobAction>();
    LAction->AgentTaskId = AFields.ContentId;
    LJob->SetJobAction(LAction);
  }
  return LJob;
}

using Testing::Identifiers;

class JobQueueTest : public ::testing::Test {
protected:

  TStrings DrainIdentifiers() {
    TStrings LResult;
    while (const TJobPtr LJob = FQueue->DequeueNextJob()) LResult.push_back(LJob->GetIdentifier());
    return LResult;
  }

  Testing::TLogCapture FLog;
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  std::shared_ptr<TRecordingJobLoader> FLoader = std::make_shared<TRecordingJobLoader>();
  std::shared_ptr<IJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(FSaver, FLoader);
};

// The ranking rules are the comparer's test; here, that the queue hands out by them.
TEST_F(JobQueueTest, JobsComeOutInPriorityOrder) {
  for (const TJobPtr& LJob : {MakeJob({.Identifier = "none-added-first"}),
                              MakeJob({.Identifier = "due100-order5", .Due = 100.0, .Order = 5}),
                              MakeJob({.Identifier = "none-order-3", .Order = -3}),
                              MakeJob({.Identifier = "due50-order9", .Due = 50.0, .Order = 9}),
                              MakeJob({.Identifier = "manual-none", .IsManual = true}),
                              // Equal in every key: the order of addition stands.
                              MakeJob({.Identifier = "manual-tie-a", .IsManual = true, .Due = 10.0, .QueueIndex = 3}),
                              MakeJob({.Identifier = "manual-tie-b", .IsManual = true, .Due = 10.0, .QueueIndex = 3}),
                              MakeJob({.Identifier = "none-added-last"})})
    ASSERT_TRUE(FQueue->EnqueueJob(LJob));

  const TJobPtr LPeeked = FQueue->PeekNextJob();
  ASSERT_NE(LPeeked, nullptr);
  EXPECT_EQ(FQueue->PeekNextJob(), LPeeked) << "peeking leaves the job queued";
  EXPECT_EQ(DrainIdentifiers(), (TStrings{"manual-tie-a", "manual-tie-b", "manual-none", "due50-order9",
                                          "due100-order5", "none-order-3", "none-added-first", "none-added-last"}));
}

TEST_F(JobQueueTest, QueueIndexIsStampedOnceAndKeptWhenAJobComesBack) {
  const TJobPtr LFirst = MakeJob({.Identifier = "first"});
  const TJobPtr LSecond = MakeJob({.Identifier = "second"});
  FQueue->EnqueueJob(LFirst);
  FQueue->EnqueueJob(LSecond);
  EXPECT_EQ(LFirst->GetQueueIndex(), 0);
  EXPECT_EQ(LSecond->GetQueueIndex(), 1);

  ASSERT_EQ(FQueue->DequeueNextJob(), LFirst);
  EXPECT_EQ(LFirst->GetExecState(), TJobExecState::Idle);
  ASSERT_TRUE(FQueue->EnqueueJob(LFirst));
  EXPECT_EQ(LFirst->GetExecState(), TJobExecState::Queued);
  // Now last in the list, it still ranks by its first index.
  EXPECT_EQ(LFirst->GetQueueIndex(), 0);
  EXPECT_EQ(FQueue->PeekNextJob(), LFirst);
}

TEST_F(JobQueueTest, SecondJobWithAQueuedContentIdIsRefusedSilently) {
  ASSERT_TRUE(FQueue->EnqueueJob(MakeJob({.Identifier = "a", .IsManual = true, .ContentId = "{SCAN}"})));
  FLog->Clear();
  FSaver->Clear();

  EXPECT_FALSE(FQueue->EnqueueJob(MakeJob({.Identifier = "b", .IsManual = true, .ContentId = "{SCAN}"})));
  EXPECT_FALSE(
      FQueue->EnqueueJob(MakeJob({.Identifier = "{SCAN}"})));  // no action: the identifier is the content
  EXPECT_TRUE(FLog->Entries().empty());
  EXPECT_EQ(FSaver->SaveCount(), 0);
  EXPECT_EQ(Identifiers(FQueue->CreateSnapshot()), TStrings{"a"});

  // Content ids compare exactly.
  EXPECT_TRUE(FQueue->EnqueueJob(MakeJob({.Identifier = "c", .ContentId = "{scan}"})));
}

TEST_F(JobQueueTest, ManualJobIsCopiedOnEntryAndTheCopyBelongsToTheQueue) {
  TJobPtr LOriginal = MakeJob({.Identifier = "manual", .IsManual = true, .Due = 10.0, .ContentId = "{SCAN}"});
  ASSERT_TRUE(FQueue->EnqueueJob(LOriginal));
  // The caller's object is untouched and no longer needed by the queue.
  EXPECT_EQ(LOriginal->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(LOriginal->GetQueueIndex(), -1);
  const std::weak_ptr<TJob> LOriginalRef = LOriginal;
  LOriginal.reset();
  EXPECT_TRUE(LOriginalRef.expired());

  std::weak_ptr<TJob> LCopyRef;
  {
    const TJobPtr LCopy = FQueue->PeekNextJob();
    ASSERT_NE(LCopy, nullptr);
    EXPECT_EQ(LCopy->GetIdentifier(), "manual");
    EXPECT_EQ(LCopy->GetContentId(), "{SCAN}");
    EXPECT_EQ(LCopy->GetNextExecution(), 10.0);
    EXPECT_EQ(LCopy->GetExecState(), TJobExecState::Queued);
    EXPECT_EQ(LCopy->GetQueueIndex(), 0);
    LCopyRef = LCopy;
  }
  EXPECT_FALSE(LCopyRef.expired()) << "the queue keeps its copy";

  // Dequeuing hands the copy to the caller.
  TJobPtr LDequeued = FQueue->DequeueNextJob();
  EXPECT_EQ(LDequeued, LCopyRef.lock());
  EXPECT_EQ(LDequeued->GetExecState(), TJobExecState::Idle);
  LDequeued.reset();
  EXPECT_TRUE(LCopyRef.expired());
}

TEST_F(JobQueueTest, ManualJobsAreSavedAfterEveryAddAndEveryDequeue) {
  FQueue->EnqueueJob(MakeJob({.Identifier = "scheduled", .Due = 5.0}));
  FQueue->EnqueueJob(MakeJob({.Identifier = "m1", .IsManual = true, .Due = 20.0}));
  FQueue->EnqueueJob(MakeJob({.Identifier = "m2", .IsManual = true, .Due = 30.0}));
  FQueue->DequeueNextJob();  // m1
  FQueue->DequeueNextJob();  // m2
  FQueue->DequeueNextJob();  // scheduled
  EXPECT_EQ(FQueue->DequeueNextJob(), nullptr);

  // Whatever kind of job moved, the whole manual list is written, in the order of addition.
  EXPECT_EQ(FSaver->Saves(), (std::vector<TStrings>{{}, {"m1"}, {"m1", "m2"}, {"m2"}, {}, {}}));
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Message),
            (TStrings{"Queue item count after add: 1", "Queue item count after add: 2",
                      "Queue item count after add: 3", "Queue item count after remove: 2",
                      "Queue item count after remove: 1", "Queue item count after remove: 0"}));
}

TEST_F(JobQueueTest, RemoveJobTakesOutThatVeryJobAndSavesOnlyWhenItWasQueued) {
  const TJobPtr LScheduled = MakeJob({.Identifier = "scheduled", .ContentId = "{SCAN}"});
  const TJobPtr LManual = MakeJob({.Identifier = "manual", .IsManual = true, .ContentId = "{OTHER}"});
  FQueue->EnqueueJob(LScheduled);
  FQueue->EnqueueJob(LManual);
  FLog->Clear();
  FSaver->Clear();

  // The caller's original of a manual job is not the queued copy: nothing happens.
  FQueue->RemoveJob(LManual);
  EXPECT_EQ(FSaver->SaveCount(), 0);
  EXPECT_FALSE(FQueue->EnqueueJob(MakeJob({.Identifier = "again", .ContentId = "{OTHER}"})));

  FQueue->RemoveJob(LScheduled);
  EXPECT_EQ(LScheduled->GetExecState(), TJobExecState::Queued) << "left as it was";
  EXPECT_EQ(FSaver->Saves(), (std::vector<TStrings>{{"manual"}}));
  EXPECT_TRUE(FLog->Entries().empty());
  EXPECT_EQ(Identifiers(FQueue->CreateSnapshot()), TStrings{"manual"});

  FQueue->RemoveJob(LScheduled);
  EXPECT_EQ(FSaver->SaveCount(), 1) << "a job no longer queued is not saved for";
  EXPECT_TRUE(FQueue->EnqueueJob(LScheduled)) << "its content id is free again";
}

// Jobs are taken out by identity: a job list's job and a manual job may share an identifier.
TEST_F(JobQueueTest, DequeueTakesOutThePickedJobNotAnotherWithItsIdentifier) {
  const TJobPtr LScheduled = MakeJob({.Identifier = "same", .ContentId = "{SCAN}"});
  FQueue->EnqueueJob(LScheduled);
  FQueue->EnqueueJob(MakeJob({.Identifier = "SAME", .IsManual = true, .ContentId = "{OTHER}"}));

  EXPECT_EQ(FQueue->DequeueNextJob()->GetContentId(), "{OTHER}");
  EXPECT_EQ(FQueue->CreateSnapshot().front()->GetContentId(), "{SCAN}");
  EXPECT_EQ(FQueue->DequeueNextJob(), LScheduled);
}

TEST_F(JobQueueTest, LoadQueuesCopiesOfTheStoredManualJobs) {
  FQueue->EnqueueJob(MakeJob({.Identifier = "queued", .ContentId = "{SCAN}"}));
  FLoader->Items = {MakeJob({.Identifier = "stored1", .IsManual = true, .ContentId = "{A}"}),
                    MakeJob({.Identifier = "stored2", .IsManual = true, .ContentId = "{SCAN}"}),
                    MakeJob({.Identifier = "stored3", .IsManual = true, .ContentId = "{B}"})};
  FSaver->Clear();

  FQueue->LoadQueuedManualJobs();

  EXPECT_EQ(FLoader->LoadCount, 1);
  // stored2's content is queued already; each job that got in saved the file again.
  EXPECT_EQ(Identifiers(FQueue->CreateSnapshot()), (TStrings{"queued", "stored1", "stored3"}));
  EXPECT_EQ(FSaver->Saves(), (std::vector<TStrings>{{"stored1"}, {"stored1", "stored3"}}));
  // The loader keeps its own jobs.
  ASSERT_EQ(FLoader->Items.size(), 3u);
  EXPECT_EQ(FLoader->Items[0].use_count(), 1);
  EXPECT_EQ(FLoader->Items[0]->GetExecState(), TJobExecState::Idle);
}

TEST_F(JobQueueTest, SyncQueueDropsScheduledJobsThatLeftTheJobList) {
  const TJobPtr LKept = MakeJob({.Identifier = "kept"});
  const TJobPtr LGoneFirst = MakeJob({.Identifier = "gone1", .ContentId = "{SCAN}"});
  const TJobPtr LGoneLast = MakeJob({.Identifier = "gone2"});
  FQueue->EnqueueJob(LGoneFirst);
  FQueue->EnqueueJob(MakeJob({.Identifier = "manual", .IsManual = true}));
  FQueue->EnqueueJob(LKept);
  FQueue->EnqueueJob(LGoneLast);
  FLog->Clear();
  FSaver->Clear();

  // The job list holds "kept" (another object with the same identifier does as well) and "other".
  FQueue->SyncQueue(
      IEnumerable<TJobPtr>::FromVector({MakeJob({.Identifier = "other"}), MakeJob({.Identifier = "kept"})}));

  EXPECT_EQ(Identifiers(FQueue->CreateSnapshot()), (TStrings{"manual", "kept"}));
  EXPECT_EQ(LGoneFirst->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(LGoneLast->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(LKept->GetExecState(), TJobExecState::Queued);
  EXPECT_EQ(FSaver->SaveCount(), 0);

  // From the last entry to the first.
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Object),
            (TStrings{"Remove job \"Job gone2\" from queue", "Remove job \"Job gone1\" from queue"}));

  EXPECT_TRUE(FQueue->EnqueueJob(MakeJob({.Identifier = "new", .ContentId = "{SCAN}"})))
      << "content id freed";
}

TEST_F(JobQueueTest, SyncQueueLogsAFailureAndKeepsTheQueue) {
  FQueue->EnqueueJob(MakeJob({.Identifier = "a"}));
  FLog->Clear();
  const IEnumerable<TJobPtr> LFailingJobList([] {
    return IEnumerable<TJobPtr>::TEnumerator(
        []() -> std::optional<TJobPtr> { throw EInvalidOperation("job list is gone"); });
  });

  FQueue->SyncQueue(LFailingJobList);

  EXPECT_EQ(Identifiers(FQueue->CreateSnapshot()), TStrings{"a"});
  const TLogEntry LFailure = FLog->Entries()[FLog->IndexOf(TLogEntryKind::Exception)];
  EXPECT_EQ(LFailure.Text, "job list is gone");
  EXPECT_EQ(LFailure.Value, "TJobQueue.SyncQueue");
  // The lock was released: writers get in.
  EXPECT_TRUE(FQueue->EnqueueJob(MakeJob({.Identifier = "b"})));
}

TEST_F(JobQueueTest, SnapshotIsIndependentOfTheQueue) {
  const TJobPtr LScheduled = MakeJob({.Identifier = "scheduled", .Due = 100.0});
  FQueue->EnqueueJob(LScheduled);
  FQueue->EnqueueJob(MakeJob({.Identifier = "manual", .IsManual = true}));

  TJobList LSnapshot = FQueue->CreateSnapshot();
  // Copies, in the order of addition rather than of priority.
  ASSERT_EQ(Identifiers(LSnapshot), (TStrings{"scheduled", "manual"}));
  EXPECT_NE(LSnapshot[0], LScheduled);
  EXPECT_EQ(LSnapshot[0]->GetExecState(), TJobExecState::Queued);

  LSnapshot[0]->SetNextExecution(1.0);
  LSnapshot[1]->SetDisplayText("changed");
  const std::weak_ptr<TJob> LSnapshotManual = LSnapshot[1];
  LSnapshot.clear();
  EXPECT_TRUE(LSnapshotManual.expired()) << "the caller owned the copies";

  EXPECT_EQ(LScheduled->GetNextExecution(), 100.0);
  const TJobPtr LQueuedManual = FQueue->DequeueNextJob();
  EXPECT_EQ(LQueuedManual->GetDisplayText(), "Job manual");
  EXPECT_EQ(FQueue->DequeueNextJob(), LScheduled);
}

}  // namespace
}  // namespace Orvane
