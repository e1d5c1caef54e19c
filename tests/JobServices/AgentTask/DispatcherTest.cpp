#include <gmock/gmock.h>

#include "JobServices/AgentTask/ClientCommandScannerCommand.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/RestartAgentCommand.h"
#include "JobServices/AgentTask/SettingsWatchCommand.h"
#include "OrvaneClientShared/WumJobListProvider.h"
#include "OrvaneCore/Container/ContainerTypes.h"
#include "Support/LogCapture.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;

const std::string CTaskA = "{B3A5474A-E933-4CC0-8567-C80F6591AC19}";
const std::string CTaskB = "{072BE601-5372-4618-9A6D-2571D230278E}";

const TContinueCheck CGoOn = [] { return true; };

class DispatcherTest : public ::testing::Test {
protected:
  void SetUp() override {
    FTasks.Add(FTaskA);
    FTasks.Add(FTaskB);
  }
  bool Start(const std::string& AId) { return FDispatcher.StartScanner(Testing::ScannerAction(AId), CGoOn); }

  Testing::TLogCapture FLog;
  std::shared_ptr<StrictMock<Testing::MockAgentTask>> FTaskA = Testing::StrictTask(CTaskA);
  std::shared_ptr<StrictMock<Testing::MockAgentTask>> FTaskB = Testing::StrictTask(CTaskB);
  Testing::TCountingTaskSequence FTasks;
  TAgentTaskDispatcher FDispatcher{TClientId{"client-7"}, FTasks.AsLazy()};
};

// A miss caches nothing: an id is searched for again each time, and a task registered later is
// found. An empty id is never searched for.
TEST_F(DispatcherTest, UnknownEmptyOrMiscasedIdIsLoggedAndRunsNothing) {
  const std::string LLowerCase = "{b3a5474a-e933-4cc0-8567-c80f6591ac19}";
  const std::string LLate = "{618CA3BE-5F82-4C99-AB31-254E81096110}";
  EXPECT_FALSE(Start(""));
  EXPECT_FALSE(Start(LLowerCase));
  EXPECT_FALSE(FDispatcher.ScanOnly(LLate, Testing::ScannerAction(CTaskA), "/tmp/out"));
  EXPECT_EQ(FTasks.Walks(), 2);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "No agent task found with id: [" + LLowerCase + "]"));
  auto LLateTask = Testing::StrictTask(LLate);
  FTasks.Add(LLateTask);
  EXPECT_CALL(*LLateTask, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(Start(LLate));
}

TEST_F(DispatcherTest, StartScannerWithAJobRunsTheTaskOfItsScannerActionAndRefusesOneWithout) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetJobAction(Testing::ScannerAction(CTaskB));
  EXPECT_CALL(*FTaskB, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(LJob, CGoOn));
  // The job processor logs these as the job's failure.
  EXPECT_THROW(FDispatcher.StartScanner(TJobPtr(), CGoOn), EInvalidPointer);
  EXPECT_THROW(FDispatcher.StartScanner(std::shared_ptr<TScannerJobAction>(), CGoOn), EInvalidPointer);
  for (const std::shared_ptr<TJobAction>& LAction :
       {std::shared_ptr<TJobAction>(), std::make_shared<TJobAction>()}) {
    LJob->SetJobAction(LAction);
    EXPECT_THROW(FDispatcher.StartScanner(LJob, CGoOn), EArgumentException);
  }
}

TEST_F(DispatcherTest, TaskLookingItselfUpWhileTheWalkBuildsItRaisesInsteadOfRecursing) {
  // A walk builds the registered tasks; here the building looks up the very id being walked for.
  bool LLookUpWhileBuilding = true;
  FTasks.SetOnWalk([this, &LLookUpWhileBuilding] {
    if (LLookUpWhileBuilding) Start(CTaskA);
  });
  EXPECT_THROW(Start(CTaskA), EContainerError);
  LLookUpWhileBuilding = false;
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(Start(CTaskA));
}

// A host object that is no job list provider.
class TPlainHostObject : public TOrvaneObject {
public:
  std::string ClassName() const override { return "TPlainHostObject"; }
};

// Each built-in task does its one thing when run and nothing when it only scans. The providers and
// the restart command are strict mocks: a task may call only what the test expects.
TEST(BuiltInTasksTest, EachTaskActsOnlyWhenRunAndRefusesAMissingCollaborator) {
  auto LTaskProvider = std::make_shared<StrictMock<Testing::MockJobListProvider<TScannerJobAction>>>();
  auto LGlobalProvider = std::make_shared<StrictMock<Testing::MockGlobalJobListProvider>>();
  auto LClientProvider = std::make_shared<StrictMock<Testing::MockJobListProvider<TJobAction>>>();
  auto LRestartCommand = std::make_shared<StrictMock<Testing::MockAgentRestartCommand>>();
  const auto Execute = [](IAgentTask& ATask) { return ATask.Execute("client-7", nullptr, CGoOn); };
  int LResolutions = 0;
  TSettingsWatchTask LWatch(LTaskProvider);
  TClientCommandScanner LClientCommands(Lazy<IJobListProvider<TJobAction>>(
      [&] { return ++LResolutions, std::shared_ptr<IJobListProvider<TJobAction>>(LClientProvider); },
      [] { return std::string("the client job list provider"); }));
  TRestartAgentTask LRestart(LRestartCommand);
  SetWumJobListProvider(LGlobalProvider);
  for (IAgentTask* LTask : std::initializer_list<IAgentTask*>{&LWatch, &LClientCommands, &LRestart})
    EXPECT_TRUE(LTask->ScanOnly("", nullptr, CGoOn, "/tmp/out"));
  EXPECT_EQ(LResolutions, 0);
  // The settings watch reloads the host's global provider as well, when that is a job list provider.
  EXPECT_CALL(*LTaskProvider, SetLoadListFromServerOnNextFetch(true)).Times(3);
  EXPECT_CALL(*LGlobalProvider, SetLoadListFromServerOnNextFetch(true));
  EXPECT_TRUE(Execute(LWatch));
  SetWumJobListProvider(std::make_shared<TPlainHostObject>());
  EXPECT_TRUE(Execute(LWatch));
  SetWumJobListProvider(nullptr);
  EXPECT_TRUE(Execute(LWatch));
  // The client provider is resolved at the first run, once.
  EXPECT_CALL(*LClientProvider, SetLoadListFromServerOnNextFetch(true)).Times(2);
  EXPECT_TRUE(Execute(LClientCommands));
  EXPECT_TRUE(Execute(LClientCommands));
  EXPECT_EQ(LResolutions, 1);
  EXPECT_CALL(*LRestartCommand, RestartAgent());
  EXPECT_TRUE(Execute(LRestart));
  EXPECT_THROW(TRestartAgentTask(nullptr), EInvalidPointer);
  EXPECT_THROW(TSettingsWatchTask(nullptr), EInvalidPointer);
}

}  // namespace
}  // namespace Orvane
