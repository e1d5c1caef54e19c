#include <gmock/gmock.h>

#include <cerrno>
#include <memory>
#include <string>

#include "AgentControlCommands.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Return;

// An enqueue is acknowledged only once its job is saved; otherwise the answer says why, and
// enqueue-all names the scanners that were kept.
TEST(AgentControlCommandsTest, EnqueuesAnswerSuccessOnlyForSavedJobsAndOtherwiseNameTheReason) {
  auto LQueue = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskQueue>>();
  TAgentControlCommands LCommands(LQueue, nullptr, nullptr, nullptr);
  const std::string LComputer(CComputerScannerId);

  EXPECT_CALL(*LQueue, EnqueueAgentTask(LComputer, _, 10)).WillOnce(Return(ENOSPC)).WillOnce(Return(0));
  EXPECT_EQ(LCommands.Handle({"enqueue", {"computer scanner", "10"}}),
            (TControlAnswer{false, "Computer Scanner " + LComputer +
                                       " is not enqueued: it could not be saved: No space left on device"}));
  EXPECT_TRUE(LCommands.Handle({"enqueue", {"computer scanner", "10"}}).Ok);

  ON_CALL(*LQueue, EnqueueAgentTask(_, _)).WillByDefault(Return(EIO));
  EXPECT_EQ(
      LCommands.Handle({"enqueue-all", {}}),
      (TControlAnswer{false, "No scanner is enqueued: the jobs could not be saved: Input/output error"}));
  ON_CALL(*LQueue, EnqueueAgentTask(LComputer, _)).WillByDefault(Return(0));
  ON_CALL(*LQueue, EnqueueAgentTask(std::string(CSoftwareScannerId), _)).WillByDefault(Return(0));
  EXPECT_EQ(LCommands.Handle({"enqueue-all", {}}),
            (TControlAnswer{false,
                            "Not every scanner is enqueued: the others could not be saved: Input/output "
                            "error. Enqueued: Computer Scanner, Software Scanner."}));
}

}  // namespace
}  // namespace Orvane
