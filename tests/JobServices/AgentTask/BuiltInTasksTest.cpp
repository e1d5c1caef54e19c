#include <gmock/gmock.h>

#include "JobServices/AgentTask/ClientCommandScannerCommand.h"
#include "JobServices/AgentTask/RestartAgentCommand.h"
#include "JobServices/AgentTask/SettingsWatchCommand.h"
#include "OrvaneClientShared/WumJobListProvider.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::StrictMock;

// A host object that is no job list provider.
class TPlainHostObject : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TPlainHostObject"; }
};

bool Execute(IAgentTask& ATask) {
  return ATask.Execute("client-7", nullptr, [] { return true; });
}
bool ScanOnly(IAgentTask& ATask) {
  return ATask.ScanOnly(
      "", nullptr, [] { return true; }, "/tmp/out");
}

// The providers and the restart command are strict mocks: a task may call only what a test expects.
class BuiltInTasksTest : public ::testing::Test {
protected:
  void SetUp() override { SetWumJobListProvider(FGlobalProvider); }
  void TearDown() override { SetWumJobListProvider(nullptr); }

  std::shared_ptr<StrictMock<Testing::MockJobListProvider<TScannerJobAction>>> FTaskProvider =
      std::make_shared<StrictMock<Testing::MockJobListProvider<TScannerJobAction>>>();
  std::shared_ptr<StrictMock<Testing::MockGlobalJobListProvider>> FGlobalProvider =
      std::make_shared<StrictMock<Testing::MockGlobalJobListProvider>>();
};

TEST_F(BuiltInTasksTest, SettingsWatchReloadsTheAgentTaskProviderAndAGlobalOneThatIsAJobListProvider) {
  EXPECT_CALL(*FTaskProvider, SetLoadListFromServerOnNextFetch(true)).Times(3);
  EXPECT_CALL(*FGlobalProvider, SetLoadListFromServerOnNextFetch(true));
  TSettingsWatchTask LTask(FTaskProvider);
  EXPECT_TRUE(ScanOnly(LTask));
  EXPECT_TRUE(Execute(LTask));
  SetWumJobListProvider(nullptr);
  EXPECT_TRUE(Execute(LTask));
  SetWumJobListProvider(std::make_shared<TPlainHostObject>());
  EXPECT_TRUE(Execute(LTask));
}

TEST_F(BuiltInTasksTest, ClientCommandScannerReloadsOnlyTheClientProviderResolvedAtItsFirstRun) {
  auto LClientProvider = std::make_shared<StrictMock<Testing::MockJobListProvider<TJobAction>>>();
  EXPECT_CALL(*LClientProvider, SetLoadListFromServerOnNextFetch(true)).Times(2);
  int LResolutions = 0;
  TClientCommandScanner LTask(Lazy<IJobListProvider<TJobAction>>(
      [&] { return ++LResolutions, std::shared_ptr<IJobListProvider<TJobAction>>(LClientProvider); },
      [] { return std::string("the client job list provider"); }));
  EXPECT_TRUE(ScanOnly(LTask));
  EXPECT_EQ(LResolutions, 0);
  EXPECT_TRUE(Execute(LTask));
  EXPECT_TRUE(Execute(LTask));
  EXPECT_EQ(LResolutions, 1);
}

TEST_F(BuiltInTasksTest, RestartTaskRestartsOnlyWhenRunAndTasksRefuseMissingCollaborators) {
  auto LRestartCommand = std::make_shared<StrictMock<Testing::MockAgentRestartCommand>>();
  TRestartAgentTask LTask(LRestartCommand);
  EXPECT_TRUE(ScanOnly(LTask));
  EXPECT_CALL(*LRestartCommand, RestartAgent());
  EXPECT_TRUE(Execute(LTask));
  EXPECT_THROW(TRestartAgentTask(nullptr), EInvalidPointer);
  EXPECT_THROW(TSettingsWatchTask(nullptr), EInvalidPointer);
}

}  // namespace
}  // namespace Orvane
