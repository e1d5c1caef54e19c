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

// What a full disk makes of enqueue and enqueue-all is the end-to-end durability test's; here, an
// enqueue-all that saved some scanners names them.
TEST(AgentControlCommandsTest, EnqueueAllThatSavedSomeScannersNamesThemAndTheReasonForTheRest) {
  auto LQueue = std::make_shared<::testing::NiceMock<Testing::MockAgentTaskQueue>>();
  TAgentControlCommands LCommands(LQueue, nullptr, nullptr, nullptr);
  ON_CALL(*LQueue, EnqueueAgentTask(_, _)).WillByDefault(Return(EIO));
  ON_CALL(*LQueue, EnqueueAgentTask(std::string(CComputerScannerId), _)).WillByDefault(Return(0));
  ON_CALL(*LQueue, EnqueueAgentTask(std::string(CSoftwareScannerId), _)).WillByDefault(Return(0));
  EXPECT_EQ(LCommands.Handle({"enqueue-all", {}}),
            (TControlAnswer{false,
                            "Not every scanner is enqueued: the others could not be saved: Input/output "
                            "error. Enqueued: Computer Scanner, Software Scanner."}));
}

}  // namespace
}  // namespace Orvane
