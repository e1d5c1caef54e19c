#include <gmock/gmock.h>

#include <atomic>
#include <functional>
#include <thread>
#include <unordered_set>

#include "JobManagement/JobKit.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "Support/LogCapture.h"
#include "Support/RecordingJobStorage.h"
#include "Support/RunConcurrently.h"
#include "Support/ServiceMocks.h"

namespace Orvane::Testing {
namespace {

const std::string CRestartTaskId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";
constexpr int CProducers = 3, CJobsPerProducer = 80, CConsumers = 2;

TJobPtr MakeJob(const std::string& AId, const std::string& AContentId, bool AIsManual, TDateTime ADue) {
  return NewJob(AId, {.Task = AContentId, .Manual = AIsManual, .Due = ADue, .Text = AId});
}

// Producers add scheduled and manual jobs (and a second job of the same content right after each,
// which the job list does not hold), consumers take jobs out, and snapshot, save and sync threads
// run beside them. Every job that got in leaves exactly once: dequeued or dropped by SyncQueue.
class JobQueueConcurrencyTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (int LProducer = 0; LProducer < CProducers; ++LProducer) {
      for (int LIndex = 0; LIndex < CJobsPerProducer; ++LIndex) {
        const std::string LName = std::to_string(LProducer) + "-" + std::to_string(LIndex);
        // Every third job is manual; of the scheduled ones, every other one left the job list.
        const bool LIsManual = LIndex % 3 == 0;
        const bool LInJobList = LIsManual || LIndex % 2 == 0;
        const TJobPtr LJob = MakeJob((LInJobList ? "keep-" : "drop-") + LName, "content-" + LName, LIsManual,
                                     100.0 + (LIndex % 7));
        FJobs[LProducer].push_back(LJob);
        FDuplicates[LProducer].push_back(MakeJob("dup-" + LName, "content-" + LName, LIsManual, 50.0));
        if (LInJobList && !LIsManual) FJobList.push_back(LJob);
      }
    }
  }

  void RunAgainst(IJobQueue<>& AQueue, const std::function<void()>& AExtraBody = nullptr) {
    std::atomic<int> LProducersLeft{CProducers}, LAccepted{0}, LDequeued{0}, LBadStates{0}, LDuplicates{0};
    const auto LProducing = [&] { return LProducersLeft.load() > 0; };

    std::vector<std::function<void()>> LBodies;
    for (int LProducer = 0; LProducer < CProducers; ++LProducer) {
      LBodies.push_back([&, LProducer] {
        for (int LIndex = 0; LIndex < CJobsPerProducer; ++LIndex) {
          if (AQueue.EnqueueJob(FJobs[LProducer][LIndex])) ++LAccepted;
          if (AQueue.EnqueueJob(FDuplicates[LProducer][LIndex])) ++LAccepted;
        }
        --LProducersLeft;
      });
    }
    for (int LConsumer = 0; LConsumer < CConsumers; ++LConsumer) {
      LBodies.push_back([&] {
        for (;;) {
          const bool LWasProducing = LProducing();
          if (const TJobPtr LJob = AQueue.DequeueNextJob()) {
            ++LDequeued;
            if (LJob->GetExecState() != TJobExecState::Idle) ++LBadStates;
            // Its run ends at once: the job leaves the saved file.
            AQueue.RunEnded(LJob);
          } else if (!LWasProducing) {
            return;
          } else {
            std::this_thread::yield();
          }
        }
      });
    }
    LBodies.push_back([&] {
      while (LProducing()) {
        const TJobList LSnapshot = AQueue.CreateSnapshot();
        std::unordered_set<std::string> LContentIds;
        for (const TJobPtr& LJob : LSnapshot) {
          if (!LContentIds.insert(LJob->GetContentId()).second) ++LDuplicates;
          if (LJob->GetExecState() != TJobExecState::Queued) ++LBadStates;
        }
      }
    });
    const IEnumerable<TJobPtr> LJobList = IEnumerable<TJobPtr>::FromVector(FJobList);
    for (const std::function<void()>& LEach : std::vector<std::function<void()>>{
             [&] { AQueue.SaveQueuedManualJobs(); }, [&] { AQueue.SyncQueue(LJobList); }, AExtraBody})
      if (LEach)
        LBodies.push_back([&, LEach] {
          while (LProducing()) LEach();
        });

    RunConcurrently(LBodies);

    EXPECT_EQ(AQueue.PeekNextJob(), nullptr);
    const int LDropped = FLog->Count(TLogEntryKind::Object, "Remove job");
    EXPECT_EQ(FLog->Count(TLogEntryKind::Object, "Remove job \"keep-"), 0)
        << "only jobs that left the job list";
    EXPECT_EQ(LAccepted.load(), LDequeued.load() + LDropped);
    EXPECT_GE(LAccepted.load(), CProducers * CJobsPerProducer);
    EXPECT_EQ(LBadStates.load(), 0);
    EXPECT_EQ(LDuplicates.load(), 0) << "one content id twice in a snapshot";
    EXPECT_EQ(FSaver->OverlappingSaves(), 0);
    EXPECT_TRUE(FSaver->SavedManualJobsOnly());
    EXPECT_EQ(FSaver->LastSave(), std::vector<std::string>()) << "the last save saw the emptied queue";
  }

  TLogCapture FLog;
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  TJobList FJobs[CProducers];
  TJobList FDuplicates[CProducers];
  TJobList FJobList;
};

TEST_F(JobQueueConcurrencyTest, EnqueueDequeueSnapshotSaveAndSyncRunTogether) {
  TJobQueue<> LQueue(FSaver, nullptr);
  RunAgainst(LQueue);
}

// The agent-task queue's choice reads the list twice inside DequeueNextJob's write section while
// restarts are requested and withdrawn under way; no read taken inside the write may block.
TEST_F(JobQueueConcurrencyTest, ReadsInsideTheWriteSectionNeverBlockWhileRestartsComeAndGo) {
  std::atomic<bool> LRestart{false};
  const auto LServant = std::make_shared<::testing::NiceMock<MockJobServant>>();
  ON_CALL(*LServant, IsRestartRequested()).WillByDefault([&] { return LRestart.load(); });
  // Every producer's job 1 is the restart task, so restart jobs keep arriving and leaving.
  for (int LProducer = 0; LProducer < CProducers; ++LProducer)
    std::static_pointer_cast<TScannerJobAction>(FJobs[LProducer][1]->GetJobAction())->AgentTaskId =
        CRestartTaskId;
  TAgentTaskJobQueue LQueue(FSaver, nullptr, LServant);
  RunAgainst(LQueue, [&] { LRestart = !LRestart.load(); });
}

}  // namespace
}  // namespace Orvane::Testing
