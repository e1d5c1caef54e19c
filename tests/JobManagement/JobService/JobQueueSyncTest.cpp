#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "JobManagement/JobService/JobQueue.h"
#include "Support/JobIdentifiers.h"

namespace Orvane {
namespace {

using TStrings = std::vector<std::string>;
using Testing::Identifiers;

TJobPtr MakeJob(const std::string& AIdentifier, bool AIsManual = false) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  LJob->SetIsManual(AIsManual);
  return LJob;
}

// The job list as the scheduler hands it over, counting how often the queue walks it.
class TCountedJobList {
public:
  explicit TCountedJobList(TJobList AJobs) : FJobs(std::make_shared<TJobList>(std::move(AJobs))) {}

  IEnumerable<TJobPtr> Sequence() {
    return IEnumerable<TJobPtr>([this] {
      ++Walks;
      return IEnumerable<TJobPtr>::TEnumerator([LJobs = FJobs, LIndex = std::size_t{0}]() mutable -> std::optional<TJobPtr> {
        if (LIndex >= LJobs->size()) return std::nullopt;
        return (*LJobs)[LIndex++];
      });
    });
  }

  int Walks = 0;

private:
  std::shared_ptr<TJobList> FJobs;
};

// The queue holds a few jobs and the list thousands: the list is walked once to find the queued
// objects, and searched by identifier only for a queued job that is not among them.
TEST(JobQueueSyncTest, ListIsWalkedOnlyAsFarAsTheQueuedScheduledJobsNeed) {
  TJobQueue<> LQueue(nullptr, nullptr);
  const TJobPtr LSame = MakeJob("same");
  LQueue.EnqueueJob(MakeJob("manual", true));

  TCountedJobList LOnlyManualQueued({LSame});
  LQueue.SyncQueue(LOnlyManualQueued.Sequence());
  EXPECT_EQ(LOnlyManualQueued.Walks, 0);

  LQueue.EnqueueJob(LSame);
  TCountedJobList LQueuedObjectListed({MakeJob("other"), LSame});
  LQueue.SyncQueue(LQueuedObjectListed.Sequence());
  EXPECT_EQ(LQueuedObjectListed.Walks, 1);
  EXPECT_EQ(Identifiers(LQueue.CreateSnapshot()), (TStrings{"manual", "same"}));

  // A newer object of the same identifier (a reloaded list) keeps the queued one as well.
  TCountedJobList LEqualObjectListed({MakeJob("same")});
  LQueue.SyncQueue(LEqualObjectListed.Sequence());
  EXPECT_EQ(LEqualObjectListed.Walks, 2);
  EXPECT_EQ(Identifiers(LQueue.CreateSnapshot()), (TStrings{"manual", "same"}));
}

TEST(JobQueueSyncTest, QueuedJobFoundAsItselfStaysWhileOneThatLeftTheListGoes) {
  TJobQueue<> LQueue(nullptr, nullptr);
  const TJobPtr LKept = MakeJob("kept");
  const TJobPtr LGone = MakeJob("gone");
  LQueue.EnqueueJob(LGone);
  LQueue.EnqueueJob(LKept);

  TCountedJobList LList({LKept});
  LQueue.SyncQueue(LList.Sequence());

  EXPECT_EQ(Identifiers(LQueue.CreateSnapshot()), TStrings{"kept"});
  EXPECT_EQ(LGone->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(LKept->GetExecState(), TJobExecState::Queued);
  EXPECT_TRUE(LQueue.EnqueueJob(MakeJob("gone"))) << "content id freed";
}

}  // namespace
}  // namespace Orvane
