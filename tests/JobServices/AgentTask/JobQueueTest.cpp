#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "JobServices/AgentTask/JobQueue.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "Support/RecordingJobStorage.h"

namespace Orvane {
namespace {

using Testing::TRecordingJobLoader;
using Testing::TRecordingJobSaver;

const std::string CRestartTaskId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";

// The host's servant as far as the queue asks it: whether an agent restart is pending.
class TFakeJobServant : public IJobServant {
public:
  TNotifyEvent& GetOnJobStartAllowed() override { return FOnJobStartAllowed; }
  TNotifyEvent& GetOnJobStartDenied() override { return FOnJobStartDenied; }
  bool GetIsSystemShutdownInProgress() override { return false; }
  void SetIsSystemShutdownInProgress(bool) override {}
  bool IsJobStartAllowed(const TJobPtr&) override { return true; }
  bool IsRestartRequested() override { return RestartRequested.load(); }
  bool IsRebootRequested() override { return false; }
  bool IsJobStartDuringRebootAllowed(const std::string&) override { return true; }
  void SetRebootRequested(bool) override {}

  std::atomic<bool> RestartRequested{false};

private:
  TNotifyEvent FOnJobStartAllowed{"OnJobStartAllowed"};
  TNotifyEvent FOnJobStartDenied{"OnJobStartDenied"};
};

TJobPtr AgentTaskJob(const std::string& AIdentifier, const std::string& AAgentTaskId, bool AIsManual = false,
                     TDateTime ADue = 100.0) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  LJob->SetIsManual(AIsManual);
  LJob->SetNextExecution(ADue);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AAgentTaskId;
  LJob->SetJobAction(LAction);
  return LJob;
}

class AgentTaskJobQueueTest : public ::testing::Test {
protected:
  void SetUp() override { RemoveAllLogSinks(); }

  std::shared_ptr<TFakeJobServant> FServant = std::make_shared<TFakeJobServant>();
  std::shared_ptr<TRecordingJobSaver> FSaver = std::make_shared<TRecordingJobSaver>();
  std::shared_ptr<IJobQueue<TScannerJobAction>> FQueue =
      std::make_shared<TAgentTaskJobQueue>(FSaver, std::make_shared<TRecordingJobLoader>(), FServant);
};

TEST_F(AgentTaskJobQueueTest, RestartJobLeavesFirstWhileARestartIsRequested) {
  FQueue->EnqueueJob(AgentTaskJob("manual-scan", "{SCAN}", true, 1.0));
  FQueue->EnqueueJob(AgentTaskJob("restart", CRestartTaskId, false, 500.0));
  FQueue->EnqueueJob(AgentTaskJob("software", "{SOFTWARE}", false, 2.0));

  EXPECT_EQ(FQueue->PeekNextJob()->GetIdentifier(), "manual-scan") << "no restart pending: normal order";

  FServant->RestartRequested = true;
  EXPECT_EQ(FQueue->PeekNextJob()->GetIdentifier(), "restart");
  // DequeueNextJob goes through the override (and reads again inside its write section).
  const TJobPtr LDequeued = FQueue->DequeueNextJob();
  EXPECT_EQ(LDequeued->GetIdentifier(), "restart");
  EXPECT_EQ(LDequeued->GetExecState(), TJobExecState::Idle);
  EXPECT_EQ(FSaver->LastSave(), std::vector<std::string>{"manual-scan"});

  // Without a restart job queued the normal order applies.
  EXPECT_EQ(FQueue->DequeueNextJob()->GetIdentifier(), "manual-scan");
}

TEST_F(AgentTaskJobQueueTest, NonManualRestartJobIsPreferredToAManualOne) {
  const TJobPtr LManual = AgentTaskJob("manual-restart", CRestartTaskId, true, 1.0);
  const TJobPtr LScheduled = AgentTaskJob("scheduled", "{SETTINGS}", false, 900.0);
  FQueue->EnqueueJob(LManual);
  FQueue->EnqueueJob(LScheduled);
  FServant->RestartRequested = true;
  EXPECT_EQ(FQueue->PeekNextJob()->GetIdentifier(), "manual-restart");

  // Two queued jobs share the restart task only when one changed its action after entry, as the job
  // list's own object may.
  std::static_pointer_cast<TScannerJobAction>(LScheduled->GetJobAction())->AgentTaskId = CRestartTaskId;
  EXPECT_EQ(FQueue->PeekNextJob(), LScheduled);
}

TEST_F(AgentTaskJobQueueTest, RestartTaskIdComparesExactlyAndNeedsAServant) {
  FQueue->EnqueueJob(AgentTaskJob("scan", "{SCAN}", false, 1.0));
  FQueue->EnqueueJob(
      AgentTaskJob("lower-case-restart", "{d1831d0f-0620-4a5c-a0be-0ebe5f41d040}", false, 9.0));
  FServant->RestartRequested = true;
  EXPECT_EQ(FQueue->PeekNextJob()->GetIdentifier(), "scan");

  TAgentTaskJobQueue LWithoutServant(nullptr, nullptr, nullptr);
  LWithoutServant.EnqueueJob(AgentTaskJob("scan", "{SCAN}", false, 1.0));
  LWithoutServant.EnqueueJob(AgentTaskJob("restart", CRestartTaskId, false, 9.0));
  EXPECT_EQ(LWithoutServant.DequeueNextJob()->GetIdentifier(), "scan");
}

}  // namespace
}  // namespace Orvane
