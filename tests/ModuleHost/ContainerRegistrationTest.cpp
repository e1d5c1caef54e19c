// The module as the host meets it: loaded with dlopen into a program that links only the host
// libraries, reached only through the global container. The module registers itself once per
// process, so the host services are registered and the module loaded once for all tests here.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Core/AgentRestartCommand.Intf.h"
#include "JobManagement/JobService/JobQueueIntf.h"
#include "JobManagement/JobService/JobService.Factory.Intf.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "JobServices/AgentTask/JobProcessor.Intf.h"
#include "OrvaneClientShared/AgentTaskQueue.Intf.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneClientShared/StartConditionStorageManager.Intf.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionOnce.h"
#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Data/MemberVisitor.h"
#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Interfaces/JobStoragePathProvider.Intf.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/ClockScope.h"
#include "Support/EnvScope.h"
#include "Support/ServiceMocks.h"
#include "Support/TaskMocks.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using T = TScannerJobAction;

// Fills the server's answer the way the host's server stand-in does: through the member
// description, by member name. Reads "ManualJobIds" of a request.
class TAnswerVisitor : public IMemberVisitor {
public:
  TJobList Jobs;
  std::vector<std::string> ExistingIds;
  std::vector<std::string> RequestedIds;
  bool IsRequest = false;

  bool ModifiesTarget() const override { return !IsRequest; }
  void String(const char*, std::string&) override {}
  void Integer(const char*, int32_t&) override {}
  void Byte(const char*, uint8_t&) override {}
  void Boolean(const char*, bool&) override {}
  void DateTime(const char*, TDateTime&) override {}
  void Strings(const char* AName, std::vector<std::string>& AValue) override {
    if (IsRequest && std::string(AName) == "ManualJobIds") RequestedIds = AValue;
    if (!IsRequest && std::string(AName) == "ExistingManualJobIds") AValue = ExistingIds;
  }
  void Object(const char*, const TObjectSlot&) override {}
  void ObjectList(const char* AName, const TObjectListSlot& ASlot) override {
    if (IsRequest || std::string(AName) != "JobList") return;
    for (const TJobPtr& LJob : Jobs) ASlot.Append(LJob->Clone());
  }
};

// A server that answers every request with the job list the test set, and knows every manual job
// the client names.
class TFakeServer : public IServerRequestSender {
public:
  int32_t SendRequest(TRequest& ARequest, TResponse& AResponse) override EXCLUDES(FLock) {
    TAnswerVisitor LVisitor;
    LVisitor.IsRequest = true;
    ARequest.DescribeMembers(LVisitor);
    ++FRequests;
    {
      TMutexLock LLock(FLock);
      FCommandIds.push_back(ARequest.GetCommandId());
      LVisitor.Jobs = FJobs;
    }
    LVisitor.IsRequest = false;
    LVisitor.ExistingIds = LVisitor.RequestedIds;
    AResponse.DescribeMembers(LVisitor);
    return 0;
  }
  void SetJobs(TJobList AJobs) EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    FJobs = std::move(AJobs);
  }
  std::vector<std::string> CommandIds() EXCLUDES(FLock) {
    TMutexLock LLock(FLock);
    return FCommandIds;
  }
  std::atomic<int> FRequests{0};

private:
  TMutex FLock;
  TJobList FJobs GUARDED_BY(FLock);
  std::vector<std::string> FCommandIds GUARDED_BY(FLock);
};

class TCountingTask : public IAgentTask {
public:
  explicit TCountingTask(std::string AId) : FId(std::move(AId)) {}
  bool Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&,
               const TContinueCheck&) override {
    ++FRuns;
    return true;
  }
  std::string GetAgentTaskId() override { return FId; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&,
                const std::string&) override {
    return true;
  }
  const std::string FId;
  std::atomic<int> FRuns{0};
};

// What the host sets up before it loads the module, made once per process.
struct THost {
  Testing::TTempDir DataDir;
  std::unique_ptr<Testing::TEnvScope> DataDirScope;
  std::shared_ptr<TFakeServer> Server = std::make_shared<TFakeServer>();
  std::shared_ptr<Testing::MockJobServant> Servant =
      std::make_shared<::testing::NiceMock<Testing::MockJobServant>>();
  std::shared_ptr<Testing::MockAgentRestartCommand> RestartCommand =
      std::make_shared<::testing::NiceMock<Testing::MockAgentRestartCommand>>();
  std::shared_ptr<TCountingTask> ComputerScanner =
      std::make_shared<TCountingTask>(std::string(CComputerScannerId));
  std::shared_ptr<TCountingTask> Rules = std::make_shared<TCountingTask>(std::string(CRulesId));
  std::string LoadError;

  THost() {
    DataDirScope = std::make_unique<Testing::TEnvScope>("ORVANE_COMMON_APPDATA", DataDir.Path().c_str());
    TContainer& LContainer = GlobalContainer();
    LContainer.RegisterInstance<IServerRequestSender>(Server);
    LContainer.RegisterInstance<IJobServant>(Servant);
    LContainer.RegisterInstance<ITessraAgentRestartCommand>(RestartCommand);
    LContainer.RegisterValue(TClientId{"client-1"});
    LContainer.RegisterInstance<IAgentTask>(ComputerScanner, "ComputerScanner");
    LContainer.RegisterInstance<IAgentTask>(Rules, "Rules");
    LContainer.Build();
    // Never unloaded: its objects live in the global container until the process ends.
    TDynamicLibrary LModule = TDynamicLibrary::Load(GetExecutableDir() + "/libOrvaneJobServicesAgentTask.so",
                                                    RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!LModule.IsLoaded()) LoadError = LModule.LastErrorText();
    LModule.Release();
    ::testing::Mock::AllowLeak(Servant.get());
    ::testing::Mock::AllowLeak(RestartCommand.get());
  }
};

THost& Host() {
  static THost* LHost = new THost();  // outlives every test; the process ends with it
  return *LHost;
}

std::string ClassOf(const std::shared_ptr<void>& AObject, TOrvaneObject* AAsObject) {
  return AObject && AAsObject ? AAsObject->ClassName() : "<none>";
}

template <class I>
std::string ClassOf(const std::shared_ptr<I>& AService) {
  return ClassOf(AService, dynamic_cast<TOrvaneObject*>(AService.get()));
}

class ContainerRegistrationTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(Host().LoadError, ""); }
  TContainer& Container() { return GlobalContainer(); }

  // Resolves I (under AName) twice: the class of the instance, and whether both were one object.
  template <class I>
  void ExpectRegistration(const std::string& AClassName, bool AIsSingleton, std::string_view AName = {}) {
    SCOPED_TRACE(std::string(TServiceIdentity<I>::ReadableName()) + " \"" + std::string(AName) + "\"");
    ASSERT_TRUE(Container().HasRegistration<I>(AName));
    const std::shared_ptr<I> LFirst = Container().Resolve<I>(AName);
    const std::shared_ptr<I> LSecond = Container().Resolve<I>(AName);
    EXPECT_EQ(ClassOf(LFirst), AClassName);
    EXPECT_EQ(LFirst == LSecond, AIsSingleton);
  }
};

TEST_F(ContainerRegistrationTest, EveryRegistrationExistsUnderItsInterfaceNameAndLifetime) {
  ExpectRegistration<IJobServiceFactory<T>>("TJobServiceFactory<TScannerJobAction>", false);
  ExpectRegistration<IStartConditionStorageManager<T>>(
      "TFileStartConditionStorageManagerNoFilePermissions<TScannerJobAction>", true);
  ExpectRegistration<IStartConditionStorageManager<>>(
      "TFileStartConditionStorageManagerNoFilePermissions<TScannerJobAction>", true,
      "ConditionStorageManager_TScannerJobAction");
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
  ExpectRegistration<IAgentTask>("TRestartAgentTask", false, "TRestartAgentTask");
  ExpectRegistration<IAgentTask>("TSettingsWatchTask", false, "TSettingsWatchTask");
  ExpectRegistration<IAgentTask>("TClientCommandScanner", false, "TClientCommandScanner");

  // One instance behind both faces of the shared registrations.
  EXPECT_EQ(dynamic_cast<void*>(Container().Resolve<IAgentTaskQueue>().get()),
            dynamic_cast<void*>(Container().Resolve<IJobListProvider<T>>().get()));
  EXPECT_EQ(dynamic_cast<void*>(Container().Resolve<IJobProcessorPool<>>("TAgentTaskJobProcessorPool").get()),
            dynamic_cast<void*>(Container().Resolve<IJobProcessorPool<T>>().get()));
  EXPECT_EQ(dynamic_cast<void*>(
                Container()
                    .Resolve<IStartConditionStorageManager<>>("ConditionStorageManager_TScannerJobAction")
                    .get()),
            dynamic_cast<void*>(Container().Resolve<IStartConditionStorageManager<T>>().get()));
  // The host's own tasks stay beside the module's.
  EXPECT_EQ(Container().Resolve<IAgentTask>("Rules"), Host().Rules);
}

TEST_F(ContainerRegistrationTest, EachAgentTasksResolutionIsANewServiceOnANewQueue) {
  const std::shared_ptr<IJobService> LFirst = Container().Resolve<IJobService>("AgentTasks");
  const std::shared_ptr<IJobService> LSecond = Container().Resolve<IJobService>("AgentTasks");
  ASSERT_TRUE(LFirst && LSecond);
  EXPECT_NE(LFirst, LSecond);
  EXPECT_EQ(LFirst->GetStartDelayInSeconds(), 0);
  EXPECT_EQ(LFirst->GetSystemRunInfo(), nullptr);
  // Each factory the delegate resolves is new and gets a queue of its own.
  EXPECT_NE(Container().Resolve<IJobServiceFactory<T>>(), Container().Resolve<IJobServiceFactory<T>>());
  EXPECT_NE(Container().Resolve<IJobQueue<T>>(), Container().Resolve<IJobQueue<T>>());
}

TEST_F(ContainerRegistrationTest, CreateJobServiceWithDelayGivesThatDelayAndNoRunInformation) {
  const std::shared_ptr<IJobService> LService =
      Container().Resolve<IJobServiceFactory<T>>()->CreateJobService(5);
  ASSERT_TRUE(LService);
  EXPECT_EQ(LService->GetStartDelayInSeconds(), 5);
  EXPECT_EQ(LService->GetSystemRunInfo(), nullptr);
  EXPECT_EQ(ClassOf(LService), "TJobService");
}

TJobPtr ServerJob(const std::string& ATaskId) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("server-" + ATaskId);
  LJob->SetDisplayText("Computer Scanner");
  LJob->SetItemKind(CAgentTaskItemKind);
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = ATaskId;
  LJob->SetJobAction(LAction);
  auto LOnce = std::make_shared<TStartConditionOnce>();
  LOnce->SetStartTime(Now());
  LJob->GetStartCondition()->AddCondition(LOnce);
  return LJob;
}

TEST_F(ContainerRegistrationTest, AgentTasksServiceRunsServerJobAndEnqueuedManualJobAndStopsCleanly) {
  Testing::TManualClockScope LClock;
  THost& LHost = Host();
  LHost.Server->SetJobs({ServerJob(std::string(CComputerScannerId))});
  const int LComputerRuns = LHost.ComputerScanner->FRuns.load();
  const int LRulesRuns = LHost.Rules->FRuns.load();

  const std::shared_ptr<IJobService> LService = Container().Resolve<IJobService>("AgentTasks");
  auto LRunInfo = std::make_shared<TSystemRunInfo>();
  LRunInfo->SetIsStartupPass(true);
  LService->SetSystemRunInfo(LRunInfo);
  const std::shared_ptr<IAgentTaskQueue> LQueue = Container().Resolve<IAgentTaskQueue>();
  LQueue->SetLoadListFromServerOnNextFetch(true);

  LService->StartAsync(TThreadPriority::tpNormal);
  Clock().WaitForSleepers(1);
  EXPECT_EQ(LHost.ComputerScanner->FRuns.load(), LComputerRuns + 1);

  // A manual job asked for while the service waits runs without the turn's time-out passing.
  LQueue->EnqueueAgentTask(std::string(CRulesId), Now());
  const std::string LStorage = Container().Resolve<IJobStoragePathProvider<T>>()->GetStoragePath();
  EXPECT_TRUE(FileExists(LStorage + "/ManualJobsInJobListProvider.xml"));
  Clock().WaitForSleepers(1);
  EXPECT_EQ(LHost.Rules->FRuns.load(), LRulesRuns + 1);
  EXPECT_EQ(LHost.ComputerScanner->FRuns.load(), LComputerRuns + 1);
  EXPECT_GE(LHost.Server->FRequests.load(), 1);
  EXPECT_EQ(LHost.Server->CommandIds().back(), "CalcJobsForClient");

  LService->Stop();
  EXPECT_TRUE(FileExists(LStorage + "/ManualJobsInJobQueue.xml"));
  EXPECT_TRUE(FileExists(LStorage + "/ConditionStorage.xml"));
}

}  // namespace
}  // namespace Orvane
