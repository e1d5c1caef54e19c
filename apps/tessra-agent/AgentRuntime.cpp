#include "AgentRuntime.h"


#include <utility>

#include "ClientJobListProvider.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/DynamicLibrary.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Server/ResultUploader.h"
#include "Tasks/HostAgentTasks.h"

namespace Orvane {

namespace {

constexpr const char* CModuleFileName = "libOrvaneJobServicesAgentTask.so";

}  // namespace

TAgentRuntime::TAgentRuntime(TAgentRuntimeOptions AOptions) : FOptions(std::move(AOptions)) {
  FModulePath = FOptions.ModulePath.empty() ? IncludeTrailingPathDelimiter(GetExecutableDir()) + CModuleFileName
                                            : FOptions.ModulePath;
}

void TAgentRuntime::Load() {
  std::shared_ptr<IServerRequestSender> LSender;
  std::shared_ptr<IJobExecStateReporter> LReporter;
  std::shared_ptr<IResultSink> LResultSink;  // without a server the results stay local
  if (FOptions.ServerUrl.empty()) {
    try {
      FStandIn = std::make_shared<TAgentServerStandIn>(FOptions.DataDir, FOptions.JobsFile);
    } catch (const std::exception& E) {
      throw EAgentBadInput("the jobs file " + FOptions.JobsFile + " cannot be used: " + E.what());
    }
    LSender = FStandIn;
    LReporter = FStandIn;
  } else {
    std::shared_ptr<THttpClient> LHttp;
    try {
      const TServerLayout LLayout(FOptions.ServerUrl, FOptions.ClientId);
      LHttp = std::make_shared<THttpClient>(FOptions.Http);
      FOutbox = std::make_shared<TOutbox>(FOptions.DataDir, LLayout.ClientFolder(), LHttp);
    } catch (const std::invalid_argument& E) {
      throw EAgentBadInput(E.what());
    } catch (const std::exception& E) {
      throw EAgentLoadError(std::string("the server link cannot be set up: ") + E.what());
    }
    TServerLinkOptions LLink;
    LLink.ServerUrl = FOptions.ServerUrl;
    LLink.ClientId = FOptions.ClientId;
    LLink.DataDir = FOptions.DataDir;
    LLink.Http = FOptions.Http;
    FServerLink = std::make_shared<TServerLink>(std::move(LLink), LHttp, FOutbox);
    LSender = FServerLink;
    LReporter = FServerLink;
    LResultSink = std::make_shared<TResultUploader>(FOutbox);
  }
  // Every request to the server goes through the record, whichever sender reaches the server.
  FTakenJobs = std::make_shared<TTakenManualJobs>(LSender, FOptions.DataDir);
  FRunInfo = std::make_shared<TSystemRunInfo>();
  FRestartCommand = std::make_shared<TAgentRestartCommand>(FOptions.OnRestartRequested);
  FServant = std::make_shared<TAgentJobServant>(FRestartCommand);

  // The host's own services, in the container before the module builds on them.
  TContainer& LContainer = GlobalContainer();
  LContainer.RegisterValue(TClientId{FOptions.ClientId});
  LContainer.RegisterInstance<IJobServant>(FServant);
  LContainer.RegisterInstance<ITessraAgentRestartCommand>(FRestartCommand);
  LContainer.RegisterInstance<IServerRequestSender>(FTakenJobs);
  LContainer.RegisterInstance<IJobExecStateReporter>(LReporter);
  LContainer.RegisterInstance<IJobListProvider<TJobAction>>(std::make_shared<TAgentClientJobListProvider>());
  for (const THostAgentTask& LTask : CreateHostAgentTasks(FOptions.DataDir, LResultSink))
    LContainer.RegisterInstance<IAgentTask>(LTask.Task, LTask.RegistrationName);
  LContainer.Build();

  // Never unloaded: its objects live in the container until the process ends.
  TDynamicLibrary LModule = TDynamicLibrary::Load(FModulePath, /*AKeepLoaded=*/true);
  if (!LModule.IsLoaded()) {
    OrvaneLogger()->Error("Cannot load the module %s: %s", {FModulePath, LModule.LastErrorText()});
    throw EAgentLoadError("cannot load the module " + FModulePath + ": " + LModule.LastErrorText());
  }
  WatchJobListSaver();
}

template <class I>
std::shared_ptr<I> TAgentRuntime::ResolveFromModule(const char* AWhat, std::string_view AName) {
  std::shared_ptr<I> LService;
  try {
    LService = GlobalContainer().Resolve<I>(AName);
  } catch (const std::exception& E) {
    OrvaneLogger()->LogException(E, "TAgentRuntime.Resolve");
    throw EAgentLoadError("the module " + FModulePath + " did not provide " + AWhat + ": " + E.what());
  }
  if (!LService) throw EAgentLoadError("the module " + FModulePath + " did not provide " + AWhat);
  return LService;
}

void TAgentRuntime::WatchJobListSaver() {
  // The module makes a saver for whoever asks; the job list gets this one, the last registered.
  const auto LSaver =
      ResolveFromModule<IManualJobSaverJobList<TScannerJobAction>>("the saver of the job list's manual jobs");
  FTakenJobs->WatchSaver(LSaver);
  TContainer& LContainer = GlobalContainer();
  LContainer.RegisterInstance<IManualJobSaverJobList<TScannerJobAction>>(LSaver);
  LContainer.Build();
}

std::shared_ptr<IJobService> TAgentRuntime::CreateService() {
  return ResolveFromModule<IJobService>("the \"AgentTasks\" job service", CAgentTasksJobServiceName);
}

std::shared_ptr<IAgentTaskQueue> TAgentRuntime::GetQueue() {
  return ResolveFromModule<IAgentTaskQueue>("the agent task queue");
}

std::shared_ptr<IAgentTaskDispatcher> TAgentRuntime::GetDispatcher() {
  return ResolveFromModule<IAgentTaskDispatcher>("the agent task dispatcher");
}

std::shared_ptr<IJobListSnapshotSource> TAgentRuntime::GetJobList() {
  return ResolveFromModule<IJobListSnapshotSource>("the agent-task job list");
}

std::shared_ptr<IJobProcessorPool<TScannerJobAction>> TAgentRuntime::GetProcessorPool() {
  return ResolveFromModule<IJobProcessorPool<TScannerJobAction>>("the agent-task processor pool");
}

void TAgentRuntime::StartOutbox() {
  if (FOutbox) FOutbox->Start();
}

void TAgentRuntime::StopOutbox(double AFlushSeconds) {
  if (FOutbox) FOutbox->Stop(AFlushSeconds);
}

std::set<std::string> TAgentRuntime::GetImplementedTaskIds() {
  std::set<std::string> LIds;
  for (const std::shared_ptr<IAgentTask>& LTask : GlobalContainer().ResolveAll<IAgentTask>())
    if (LTask) LIds.insert(UpperCase(LTask->GetAgentTaskId()));
  return LIds;
}

}  // namespace Orvane
