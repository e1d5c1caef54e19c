#include <gmock/gmock.h>

#include <optional>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "Support/JobIdentifiers.h"
#include "Support/LogCapture.h"
#include "Support/RecordingJobStorage.h"
#include "Support/ServiceMocks.h"

namespace Orvane::Testing {
namespace {

using TStrings = std::vector<std::string>;

// The content id is the agent task id; a job without one has its identifier as the content id.
TJobPtr MakeJob(const std::string& AId, bool AIsManual = false, const std::string& AContentId = "") {
  return NewJob(AId, {.Task = AContentId, .Manual = AIsManual});
}

class JobQueueTest : public ::testing::Test {
protected:
  TStrings Queued() { return Identifiers(FQueue->CreateSnapshot()); }

  TLogCapture FLog;
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  std::shared_ptr<IJobQueue<>> FQueue = std::make_shared<TJobQueue<>>(FSaver, nullptr);
};

// Each row: the job that must leave first, whichever was added first, and why.
TEST_F(JobQueueTest, EachPriorityRuleDecidesOnlyWhenTheRulesBeforeItTie) {
  struct TKeys {
    bool IsManual = false;
    TDateTime Due = CNoDateTime;
    int32_t Order = 0, QueueIndex = 0;
  };
  constexpr double CHalfMillisecond = 0.0005 / CSecondsPerDay;
  const struct {
    TKeys First, Second;
    const char* Why;
  } LRows[] = {
      {{.IsManual = true}, {.Due = 100.0}, "manual beats an earlier due time"},
      {{.Due = 200.0, .Order = 9}, {.Order = -5}, "a due time beats none"},
      {{.Due = 100.0, .Order = 9}, {.Due = 100.1}, "the earlier due time beats Order"},
      {{.Due = 100.0 + CHalfMillisecond, .Order = 1},
       {.Due = 100.0, .Order = 2},
       "due times under 1 ms apart tie"},
      {{.Order = -1, .QueueIndex = 7}, {}, "two without a due time go by Order"},
      {{.Due = 100.0, .Order = 3, .QueueIndex = -2},
       {.Due = 100.0, .Order = 3, .QueueIndex = 1},
       "then QueueIndex"},
      {{.IsManual = true, .Due = 50.0}, {.IsManual = true}, "two manual jobs go by due time"},
  };
  for (const auto& LRow : LRows)
    for (const bool LFirstAddedFirst : {true, false}) {
      TJobQueue<> LQueue(nullptr, nullptr);
      for (const bool LFirst : {LFirstAddedFirst, !LFirstAddedFirst}) {
        const TKeys& LKeys = LFirst ? LRow.First : LRow.Second;
        const TJobPtr LJob = MakeJob(LFirst ? "first" : "second", LKeys.IsManual);
        LJob->SetNextExecution(LKeys.Due);
        LJob->SetOrder(LKeys.Order);
        LJob->SetQueueIndex(LKeys.QueueIndex);
        LQueue.EnqueueJob(LJob);
      }
      EXPECT_EQ(LQueue.PeekNextJob()->GetIdentifier(), "first") << LRow.Why;
    }
  // A full tie keeps the order of addition.
  for (const char* LId : {"tie-a", "tie-b"}) {
    const TJobPtr LJob = MakeJob(LId, true);
    LJob->SetQueueIndex(3);
    FQueue->EnqueueJob(LJob);
  }
  EXPECT_EQ(FQueue->PeekNextJob()->GetIdentifier(), "tie-a");
}

// By identity: the caller's original of a queued manual copy, or a job list's job that shares an
// identifier with a manual one, is another job.
TEST_F(JobQueueTest, RemoveAndDequeueTakeOutThatVeryJob) {
  const TJobPtr LScheduled = MakeJob("same", false, "{SCAN}"), LManual = MakeJob("SAME", true, "{OTHER}");
  FQueue->EnqueueJob(LScheduled);
  FQueue->EnqueueJob(LManual);
  FSaver->Clear();
  FQueue->RemoveJob(LManual);
  EXPECT_EQ(FSaver->SaveCount(), 0);
  EXPECT_FALSE(FQueue->EnqueueJob(MakeJob("again", false, "{OTHER}")));
  FQueue->RemoveJob(LScheduled);
  EXPECT_EQ(FSaver->Saves(), (std::vector<TStrings>{{"SAME"}}));
  FQueue->RemoveJob(LScheduled);
  EXPECT_EQ(FSaver->SaveCount(), 1) << "a job no longer queued is not saved for";
  EXPECT_TRUE(FQueue->EnqueueJob(LScheduled)) << "its content id is free again";
  EXPECT_EQ(FQueue->DequeueNextJob()->GetContentId(), "{OTHER}");
  EXPECT_EQ(Queued(), TStrings{"same"});
}

// A manual job leaves the saved file when its run ends, not when it is dequeued: a crash during the
// run brings it back. Put back, it is queued again; its run is known by its execution id.
TEST_F(JobQueueTest, ADequeuedManualJobIsSavedUntilItsRunEnds) {
  const TJobPtr LRun = MakeJob("run", true, "{RUN}");
  LRun->GetJobAction()->ExecutionId = "{E1}";
  FQueue->EnqueueJob(LRun);
  FQueue->EnqueueJob(MakeJob("back", true, "{BACK}"));
  const TJobPtr LDequeued = FQueue->DequeueNextJob();
  const TJobPtr LPutBack = FQueue->DequeueNextJob();
  EXPECT_EQ(FSaver->LastSave(), (TStrings{"run", "back"}));
  EXPECT_EQ(Queued(), TStrings{});
  EXPECT_TRUE(FQueue->HoldsManualJob(*LRun));
  EXPECT_FALSE(FQueue->HoldsManualJob(*MakeJob("run", true, "{RUN}"))) << "no execution id: a run of its own";
  FQueue->EnqueueJob(LPutBack);
  FQueue->RunEnded(LDequeued);
  EXPECT_EQ(FSaver->LastSave(), TStrings{"back"});
  EXPECT_FALSE(FQueue->HoldsManualJob(*LRun));
}

// The job list as the scheduler hands it over, counting the queue's walks over it; ABroken fails them.
IEnumerable<TJobPtr> Counted(TJobList AJobs, int& AWalks, bool ABroken = false) {
  return IEnumerable<TJobPtr>([LJobs = std::make_shared<TJobList>(std::move(AJobs)), &AWalks, ABroken] {
    ++AWalks;
    return IEnumerable<TJobPtr>::TEnumerator(
        [LJobs, ABroken, LIndex = std::size_t{0}]() mutable -> std::optional<TJobPtr> {
          if (ABroken) throw EInvalidOperation("job list is gone");
          if (LIndex >= LJobs->size()) return std::nullopt;
          return (*LJobs)[LIndex++];
        });
  });
}

// The queue holds a few jobs and the list thousands: the list is walked once to find the queued
// objects, and searched by identifier only for a queued job that is not among them.
TEST_F(JobQueueTest, SyncWalksTheListOnlyAsFarAsTheQueuedScheduledJobsNeedAndDropsWhatLeftIt) {
  const TJobPtr LSame = MakeJob("same");
  FQueue->EnqueueJob(MakeJob("manual", true));
  int LWalks = 0;
  FQueue->SyncQueue(Counted({LSame}, LWalks));
  EXPECT_EQ(LWalks, 0);
  FQueue->EnqueueJob(LSame);
  FQueue->SyncQueue(Counted({MakeJob("other"), LSame}, LWalks));
  EXPECT_EQ(LWalks, 1);
  // A newer object of the same identifier (a reloaded list) keeps the queued one as well.
  LWalks = 0;
  FQueue->SyncQueue(Counted({MakeJob("same")}, LWalks));
  EXPECT_EQ(LWalks, 2);
  EXPECT_EQ(Queued(), (TStrings{"manual", "same"}));
  // A list that cannot be read is logged and keeps the queue.
  FQueue->SyncQueue(Counted({}, LWalks, true));
  EXPECT_EQ(Queued(), (TStrings{"manual", "same"}));
  EXPECT_EQ(FLog->Entries().at(FLog->IndexOf(TLogEntryKind::Exception, "job list is gone")).Value,
            "TJobQueue.SyncQueue");

  const TJobPtr LGone = MakeJob("gone");
  FQueue->EnqueueJob(LGone);
  FQueue->SyncQueue(Counted({LSame}, LWalks));
  EXPECT_EQ(Queued(), (TStrings{"manual", "same"}));
  EXPECT_EQ(LGone->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(LSame->GetExecState(), TJobExecState::Queued);
  EXPECT_TRUE(FQueue->EnqueueJob(MakeJob("gone"))) << "content id freed";
}

}  // namespace
}  // namespace Orvane::Testing
