// The module as the host meets it: loaded with dlopen into a program that links only the host
// libraries, reached only through the global container. The module registers itself once per
// process, so the host services are registered and the module loaded once for all tests here. The
// agent's end-to-end tests run what it registers.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Core/AgentRestartCommand.Intf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobService.Factory.Intf.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "JobServices/AgentTask/JobProcessor.Intf.h"
#include "OrvaneClientShared/AgentTaskQueue.Intf.h"
#include "OrvaneClientShared/StartConditionStorageManager.Intf.h"
#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/EnvScope.h"
#include "Support/ServiceMocks.h"
#include "Support/TaskMocks.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using T = TScannerJobAction;

// The module's job list asks the server at its first fetch; these tests fetch nothing.
class TUnreachableServer : public IServerRequestSender {
public:
  int32_t SendRequest(TRequest&, TResponse&) override { return 1; }
};

// What the host sets up before it loads the module, made once per process.
struct THost {
  Testing::TTempDir DataDir;
  Testing::TEnvScope DataDirScope{"ORVANE_COMMON_APPDATA", DataDir.Path().c_str()};
  std::shared_ptr<Testing::MockAgentTask> Rules =
      std::make_shared<::testing::NiceMock<Testing::MockAgentTask>>();
  std::string LoadError;

  THost() {
    auto LServant = std::make_shared<::testing::NiceMock<Testing::MockJobServant>>();
    auto LRestart = std::make_shared<::testing::NiceMock<Testing::MockAgentRestartCommand>>();
    for (void* LMock : {static_cast<void*>(LServant.get()), static_cast<void*>(LRestart.get()),
                        static_cast<void*>(Rules.get())})
      ::testing::Mock::AllowLeak(LMock);
    TContainer& LContainer = GlobalContainer();
    LContainer.RegisterInstance<IServerRequestSender>(std::make_shared<TUnreachableServer>());
    LContainer.RegisterInstance<IJobServant>(LServant);
    LContainer.RegisterInstance<ITessraAgentRestartCommand>(LRestart);
    LContainer.RegisterValue(TClientId{"client-1"});
    LContainer.RegisterInstance<IAgentTask>(Rules, "Rules");
    LContainer.Build();
    // Never unloaded: its objects live in the global container until the process ends.
    TDynamicLibrary LModule = TDynamicLibrary::Load(GetExecutableDir() + "/libOrvaneJobServicesAgentTask.so",
                                                    RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!LModule.IsLoaded()) LoadError = LModule.LastErrorText();
    LModule.Release();
  }
};

THost& Host() {
  static THost* LHost = new THost();  // outlives every test; the process ends with it
  return *LHost;
}

class ContainerRegistrationTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(Host().LoadError, ""); }
  TContainer& Container() { return GlobalContainer(); }

  // Resolves I (under AName) twice: the class of the instance, and whether both were one object.
  template <class I>
  void ExpectRegistration(const std::string& AClassName, bool AIsSingleton, std::string_view AName = {}) {
    SCOPED_TRACE(std::string(TServiceIdentity<I>::ReadableName()) + " \"" + std::string(AName) + "\"");
    const std::shared_ptr<I> LFirst = Container().Resolve<I>(AName);
    auto* LObject = dynamic_cast<TOrvaneObject*>(LFirst.get());
    EXPECT_EQ(LObject ? LObject->ClassName() : "<none>", AClassName);
    EXPECT_EQ(LFirst == Container().Resolve<I>(AName), AIsSingleton);
  }
  template <class I, class J>
  bool SameObject(const std::shared_ptr<I>& A, const std::shared_ptr<J>& B) {
    return dynamic_cast<void*>(A.get()) == dynamic_cast<void*>(B.get());
  }
};

TEST_F(ContainerRegistrationTest, EveryRegistrationExistsUnderItsInterfaceNameAndLifetime) {
  const std::string LManager = "TFileStartConditionStorageManagerNoFilePermissions<TScannerJobAction>";
  const char* const LManagerName = "ConditionStorageManager_TScannerJobAction";
  ExpectRegistration<IJobServiceFactory<T>>("TJobServiceFactory<TScannerJobAction>", false);
  ExpectRegistration<IStartConditionStorageManager<T>>(LManager, true);
  ExpectRegistration<IStartConditionStorageManager<>>(LManager, true, LManagerName);
  ExpectRegistration<IManualJobSaverJobList<T>>("TFileJobListSaverForJobList<TScannerJobAction>", false);
  ExpectRegistration<IManualJobSaverQueue<T>>("TFileJobListSaverForQueue<TScannerJobAction>", false);
  ExpectRegistration<IManualJobLoaderJobList<T>>("TFileJobListProviderForJobList<TScannerJobAction>", false);
  ExpectRegistration<IManualJobLoaderQueue<T>>("TFileJobListProviderForQueue<TScannerJobAction>", false);
  ExpectRegistration<IJobProcessorPool<T>>("TAgentTaskJobProcessorPool", true);
  ExpectRegistration<IJobProcessorPool<>>("TAgentTaskJobProcessorPool", true, "TAgentTaskJobProcessorPool");
  ExpectRegistration<IJobQueue<T>>("TAgentTaskJobQueue", false);
  ExpectRegistration<IJobStoragePathProvider<T>>("TJobStoragePathProvider<TScannerJobAction>", true);
  ExpectRegistration<IJobListProvider<T>>("TAgentTaskJobListProvider", true);
  ExpectRegistration<IAgentTaskQueue>("TAgentTaskJobListProvider", true);
  ExpectRegistration<IAgentTaskDispatcher>("TAgentTaskDispatcher", true);
  ExpectRegistration<IAgentTaskJobProcessor>("TAgentTaskJobProcessor", false);
  ExpectRegistration<IJobService>("TJobService", false, "AgentTasks");
  for (const char* LTask : {"TRestartAgentTask", "TSettingsWatchTask", "TClientCommandScanner"})
    ExpectRegistration<IAgentTask>(LTask, false, LTask);

  // One instance behind both faces of the shared registrations.
  EXPECT_TRUE(SameObject(Container().Resolve<IAgentTaskQueue>(), Container().Resolve<IJobListProvider<T>>()));
  EXPECT_TRUE(SameObject(Container().Resolve<IJobProcessorPool<>>("TAgentTaskJobProcessorPool"),
                         Container().Resolve<IJobProcessorPool<T>>()));
  EXPECT_TRUE(SameObject(Container().Resolve<IStartConditionStorageManager<>>(LManagerName),
                         Container().Resolve<IStartConditionStorageManager<T>>()));
  // The host's own tasks stay beside the module's.
  EXPECT_EQ(Container().Resolve<IAgentTask>("Rules"), Host().Rules);
  // A service of the AgentTasks name starts at once and has no run information; one made with a
  // delay waits that long.
  const std::shared_ptr<IJobService> LService = Container().Resolve<IJobService>("AgentTasks");
  EXPECT_EQ(LService->GetStartDelayInSeconds(), 0);
  EXPECT_EQ(LService->GetSystemRunInfo(), nullptr);
  EXPECT_EQ(Container().Resolve<IJobServiceFactory<T>>()->CreateJobService(5)->GetStartDelayInSeconds(), 5);
}

}  // namespace
}  // namespace Orvane
