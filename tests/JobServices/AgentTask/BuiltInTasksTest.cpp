#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobServices/AgentTask/ClientCommandScannerCommand.h"
#include "JobServices/AgentTask/RestartAgentCommand.h"
#include "JobServices/AgentTask/SettingsWatchCommand.h"
#include "OrvaneClientShared/WumJobListProvider.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::StrictMock;

using TTaskProvider = StrictMock<Testing::MockJobListProvider<TScannerJobAction>>;
using TClientProvider = StrictMock<Testing::MockJobListProvider<TJobAction>>;
using TGlobalProvider = StrictMock<Testing::MockGlobalJobListProvider>;

// A host object that is no job list provider.
class TPlainHostObject : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TPlainHostObject"; }
};

std::shared_ptr<TScannerJobAction> ActionFor(std::string_view AId) {
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = std::string(AId);
  return LAction;
}

bool Execute(IAgentTask& ATask) {
  return ATask.Execute("client-7", ActionFor(ATask.GetAgentTaskId()), [] { return true; });
}

bool ScanOnly(IAgentTask& ATask) {
  return ATask.ScanOnly(
      "", ActionFor(ATask.GetAgentTaskId()), [] { return true; }, "/tmp/out");
}

class BuiltInTasksTest : public ::testing::Test {
protected:
  void SetUp() override { SetWumJobListProvider(nullptr); }
  void TearDown() override { SetWumJobListProvider(nullptr); }

  // The client provider as the container hands it over: resolved on first use, counted.
  Lazy<IJobListProvider<TJobAction>> LazyClientProvider() {
    return Lazy<IJobListProvider<TJobAction>>(
        [this] {
          ++FClientProviderResolutions;
          return std::shared_ptr<IJobListProvider<TJobAction>>(FClientProvider);
        },
        [] { return std::string("the client job list provider"); });
  }

  std::shared_ptr<TTaskProvider> FTaskProvider = std::make_shared<TTaskProvider>();
  std::shared_ptr<TClientProvider> FClientProvider = std::make_shared<TClientProvider>();
  std::shared_ptr<TGlobalProvider> FGlobalProvider = std::make_shared<TGlobalProvider>();
  std::shared_ptr<StrictMock<Testing::MockAgentRestartCommand>> FRestartCommand =
      std::make_shared<StrictMock<Testing::MockAgentRestartCommand>>();
  int FClientProviderResolutions = 0;
};

TEST_F(BuiltInTasksTest, SettingsWatchSetsTheReloadFlagOfTheAgentTaskProviderAndOfTheGlobalOne) {
  SetWumJobListProvider(FGlobalProvider);
  EXPECT_CALL(*FTaskProvider, SetLoadListFromServerOnNextFetch(true));
  EXPECT_CALL(*FGlobalProvider, SetLoadListFromServerOnNextFetch(true));

  TSettingsWatchTask LTask(FTaskProvider);
  EXPECT_TRUE(Execute(LTask));
}

TEST_F(BuiltInTasksTest, SettingsWatchPassesOverAGlobalProviderThatIsMissingOrNoJobListProvider) {
  EXPECT_CALL(*FTaskProvider, SetLoadListFromServerOnNextFetch(true)).Times(2);
  TSettingsWatchTask LTask(FTaskProvider);

  EXPECT_TRUE(Execute(LTask));
  SetWumJobListProvider(std::make_shared<TPlainHostObject>());
  EXPECT_TRUE(Execute(LTask));
}

TEST_F(BuiltInTasksTest, ClientCommandScannerSetsOnlyTheClientProvidersFlagResolvingItOnFirstRun) {
  // The agent-task and the global providers are strict mocks without expectations.
  SetWumJobListProvider(FGlobalProvider);
  EXPECT_CALL(*FClientProvider, SetLoadListFromServerOnNextFetch(true)).Times(2);

  TClientCommandScanner LTask(LazyClientProvider());
  EXPECT_EQ(FClientProviderResolutions, 0);
  EXPECT_TRUE(Execute(LTask));
  EXPECT_TRUE(Execute(LTask));
  EXPECT_EQ(FClientProviderResolutions, 1);
}

TEST_F(BuiltInTasksTest, RestartTaskCallsTheRestartCommandOnceAndReturns) {
  EXPECT_CALL(*FRestartCommand, RestartAgent());
  TRestartAgentTask LTask(FRestartCommand);
  EXPECT_TRUE(Execute(LTask));
}

TEST_F(BuiltInTasksTest, ScanOnlyOfTheBuiltInTasksTouchesNothing) {
  SetWumJobListProvider(FGlobalProvider);
  TClientCommandScanner LClientCommands(LazyClientProvider());
  TRestartAgentTask LRestart(FRestartCommand);
  TSettingsWatchTask LSettingsWatch(FTaskProvider);

  EXPECT_TRUE(ScanOnly(LClientCommands));
  EXPECT_TRUE(ScanOnly(LRestart));
  EXPECT_TRUE(ScanOnly(LSettingsWatch));
  EXPECT_EQ(FClientProviderResolutions, 0);
}

TEST_F(BuiltInTasksTest, ConstructorsRefuseMissingCollaborators) {
  EXPECT_THROW(TRestartAgentTask(nullptr), EInvalidPointer);
  EXPECT_THROW(TSettingsWatchTask(nullptr), EInvalidPointer);
}

// The dispatcher finds each built-in task under the system's id for it.
TEST_F(BuiltInTasksTest, BuiltInTasksAnswerTheSystemsIdsForThem) {
  EXPECT_EQ(TClientCommandScanner(LazyClientProvider()).GetAgentTaskId(), "{F5C78CFA-15A8-434E-812F-6FB8908CB015}");
  EXPECT_EQ(TRestartAgentTask(FRestartCommand).GetAgentTaskId(), "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}");
  EXPECT_EQ(TSettingsWatchTask(FTaskProvider).GetAgentTaskId(), "{EE727092-AD9C-42F3-B73D-053CAD48C72B}");
}

}  // namespace
}  // namespace Orvane
