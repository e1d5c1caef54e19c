// The module as the host meets it: loaded with dlopen into a program that links only the host
// libraries, reached only through the global container; the agent's end-to-end tests run what it
// registers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Core/AgentRestartCommand.Intf.h"
#include "JobManagement/JobService/JobService.Factory.Intf.h"
#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/EnvScope.h"
#include "Support/ServiceMocks.h"
#include "Support/TaskMocks.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// The module's job list asks the server at its first fetch; these tests fetch nothing.
class TUnreachableServer : public IServerRequestSender {
public:
  int32_t SendRequest(TRequest&, TResponse&) override { return 1; }
};

// What the host sets up before it loads the module, made once per process.
struct THost {
  Testing::TTempDir DataDir;
  Testing::TEnvScope DataDirScope{"ORVANE_COMMON_APPDATA", DataDir.Path().c_str()};
  std::string LoadError;

  THost() {
    auto LServant = std::make_shared<::testing::NiceMock<Testing::MockJobServant>>();
    auto LRestart = std::make_shared<::testing::NiceMock<Testing::MockAgentRestartCommand>>();
    ::testing::Mock::AllowLeak(LServant.get());
    ::testing::Mock::AllowLeak(LRestart.get());
    TContainer& LContainer = GlobalContainer();
    LContainer.RegisterInstance<IServerRequestSender>(std::make_shared<TUnreachableServer>());
    LContainer.RegisterInstance<IJobServant>(LServant);
    LContainer.RegisterInstance<ITessraAgentRestartCommand>(LRestart);
    LContainer.RegisterValue(TClientId{"client-1"});
    LContainer.Build();
    // Never unloaded: its objects live in the global container until the process ends.
    TDynamicLibrary LModule = TDynamicLibrary::Load(
        GetExecutableDir() + "/" + SharedLibraryFileName("OrvaneJobServicesAgentTask"), /*AKeepLoaded=*/true);
    if (!LModule.IsLoaded()) LoadError = LModule.LastErrorText();
    LModule.Release();
  }
};

THost& Host() {
  static THost* LHost = new THost();  // outlives every test; the process ends with it
  return *LHost;
}

// The module registers its service beside the host's own services, to start at once.
TEST(ContainerRegistrationTest, TheLoadedModuleRegistersItsServicesBesideTheHostsOwn) {
  ASSERT_EQ(Host().LoadError, "");
  EXPECT_EQ(GlobalContainer().Resolve<IJobService>("AgentTasks")->GetStartDelayInSeconds(), 0);
}

}  // namespace
}  // namespace Orvane
