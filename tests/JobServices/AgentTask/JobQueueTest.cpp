#include <gmock/gmock.h>

#include "JobManagement/JobKit.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "Support/RecordingJobStorage.h"
#include "Support/ServiceMocks.h"

namespace Orvane {
namespace {

const std::string CRestartTaskId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";

TJobPtr AgentTaskJob(const std::string& AId, const std::string& ATaskId, bool AIsManual, TDateTime ADue) {
  return Testing::NewJob(AId, {.Task = ATaskId, .Manual = AIsManual, .Due = ADue});
}

class AgentTaskJobQueueTest : public ::testing::Test {
protected:
  void RequestRestart() { ON_CALL(*FServant, IsRestartRequested()).WillByDefault(::testing::Return(true)); }

  std::shared_ptr<::testing::NiceMock<Testing::MockJobServant>> FServant =
      std::make_shared<::testing::NiceMock<Testing::MockJobServant>>();
  std::shared_ptr<Testing::TRecordingJobSaver> FSaver = std::make_shared<Testing::TRecordingJobSaver>();
  TAgentTaskJobQueue FQueue{FSaver, nullptr, FServant};
};

TEST_F(AgentTaskJobQueueTest, RestartJobLeavesFirstWhileARestartIsRequested) {
  FQueue.EnqueueJob(AgentTaskJob("manual-scan", "{SCAN}", true, 1.0));
  FQueue.EnqueueJob(AgentTaskJob("restart", CRestartTaskId, false, 500.0));
  // The restart task's id compares exactly.
  FQueue.EnqueueJob(AgentTaskJob("lower-case", "{d1831d0f-0620-4a5c-a0be-0ebe5f41d040}", false, 9.0));
  EXPECT_EQ(FQueue.PeekNextJob()->GetIdentifier(), "manual-scan") << "no restart pending: normal order";
  RequestRestart();
  // DequeueNextJob goes through the override (and reads again inside its write section).
  EXPECT_EQ(FQueue.DequeueNextJob()->GetIdentifier(), "restart");
  EXPECT_EQ(FSaver->LastSave(), std::vector<std::string>{"manual-scan"});
  EXPECT_EQ(FQueue.DequeueNextJob()->GetIdentifier(), "manual-scan");
}

}  // namespace
}  // namespace Orvane
