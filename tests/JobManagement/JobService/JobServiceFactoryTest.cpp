#include <gmock/gmock.h>

#include <memory>
#include <string>

#include "JobManagement/JobService/JobService.Factory.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "JobServices/AgentTask/ContainerRegistration.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/EngineMocks.h"
#include "Support/EnvScope.h"
#include "Support/LogCapture.h"
#include "Support/RecordingJobStorage.h"
#include "Support/ServiceMocks.h"
#include "Support/TaskMocks.h"
#include "Support/TempDir.h"

namespace Orvane::Testing {
namespace {

using T = TScannerJobAction;

class TFixedPathProvider : public IJobStoragePathProvider<T> {
public:
  explicit TFixedPathProvider(std::string APath) : FPath(std::move(APath)) {}
  std::string GetStoragePath() override { return FPath; }

private:
  const std::string FPath;
};

class TFailingSender : public IServerRequestSender {
public:
  int32_t SendRequest(TRequest&, TResponse&) override { return 1; }
};

// The module's registrations in a container of the test's own, as the host would have them.
class JobServiceFactoryTest : public ::testing::Test {
protected:
  void RegisterHost() {
    FContainer.RegisterInstance<IServerRequestSender>(std::make_shared<TFailingSender>());
    FContainer.RegisterInstance<IJobServant>(FServant);
    FContainer.RegisterValue(TClientId{"client-1"});
    FContainer.RegisterInstance<ITessraAgentRestartCommand>(
        std::make_shared<::testing::NiceMock<MockAgentRestartCommand>>());
  }

  TTempDir FDataDir;
  TEnvScope FDataDirScope{"ORVANE_COMMON_APPDATA", FDataDir.Path().c_str()};
  std::shared_ptr<MockJobServant> FServant = std::make_shared<::testing::NiceMock<MockJobServant>>();
  TContainer FContainer;
};

TEST_F(JobServiceFactoryTest, SaverTheHostRegisteredFirstStaysTheOnlyOneAndJobListLoaderIsAlwaysTheModules) {
  auto LHostSaver = std::make_shared<TRecordingJobSaver>();
  auto LHostLoader = std::make_shared<TRecordingJobListLoader>();
  FContainer.RegisterInstance<IManualJobSaverQueue<T>>(LHostSaver);
  FContainer.RegisterInstance<IManualJobLoaderJobList<T>>(LHostLoader);
  RegisterHost();
  RegisterTypes(FContainer);
  EXPECT_EQ(FContainer.Resolve<IManualJobSaverQueue<T>>(), LHostSaver);
  EXPECT_EQ(FContainer.ResolveAll<IManualJobSaverQueue<T>>().ToVector().size(), 1u);
  // The last unnamed registration answers: the module's own loader.
  EXPECT_NE(FContainer.Resolve<IManualJobLoaderJobList<T>>(),
            std::static_pointer_cast<IManualJobLoaderJobList<T>>(LHostLoader));
}

TEST_F(JobServiceFactoryTest, ServiceIsBuiltInANewStorageDirectoryAndOneThatCannotBeMadeRaises) {
  RegisterHost();
  RegisterTypes(FContainer);
  const std::string LStorage = FDataDir.Path() + "/a/b/AgentTasks";
  TJobServiceFactory<T> LFactory(FContainer.Resolve<IJobListProvider<T>>(),
                                 FContainer.Resolve<IJobProcessorPool<T>>(),
                                 std::make_shared<TFixedPathProvider>(LStorage), nullptr);
  ASSERT_TRUE(LFactory.CreateJobService("named", nullptr));
  EXPECT_TRUE(DirectoryExists(LStorage));
  TJobServiceFactory<> LFailing(nullptr, nullptr, std::make_shared<TFixedPathProvider>("/proc/orvane/none"),
                                nullptr);
  EXPECT_THROW(LFailing.CreateJobService(), EFileError);
}

// Loading the module must not fail for a registration error: it is logged, and the host finds the
// service missing.
TEST_F(JobServiceFactoryTest, RegistrationFailureAtModuleLoadIsLoggedNotRaised) {
  TLogCapture LLog;
  // A registration that names no service makes every Build of this container fail.
  FContainer.RegisterType<TFixedPathProvider>([] { return std::make_shared<TFixedPathProvider>("x"); });
  EXPECT_FALSE(RegisterTypesAtModuleLoad(FContainer));
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Exception));
  EXPECT_THROW(FContainer.Resolve<IJobService>("AgentTasks"), EContainerError);
}

}  // namespace
}  // namespace Orvane::Testing
