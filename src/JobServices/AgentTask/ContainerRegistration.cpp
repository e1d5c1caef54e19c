#include "JobServices/AgentTask/ContainerRegistration.h"

#include <exception>
#include <memory>

#include "Core/AgentRestartCommand.Intf.h"
#include "JobManagement/JobService/JobService.Factory.Intf.h"
#include "JobManagement/JobService/JobService.Factory.Utils.h"
#include "JobManagement/Storage/JobStoragePathProvider.Client.h"
#include "JobManagement/Storage/ManualJobStorage.Intf.h"
#include "JobServices/AgentTask/ClientCommandScannerCommand.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobListProvider.Client.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "JobServices/AgentTask/JobQueue.h"
#include "JobServices/AgentTask/RestartAgentCommand.h"
#include "JobServices/AgentTask/SettingsWatchCommand.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

namespace {

using T = TScannerJobAction;

void RegisterAgentTaskServices(TContainer& AContainer) {
  AContainer.RegisterType<TAgentTaskJobQueue>()
      .Implements<IJobQueue<T>>()
      .Constructors<Ctor<std::shared_ptr<IManualJobSaverQueue<T>>, std::shared_ptr<IManualJobLoaderQueue<T>>,
                         std::shared_ptr<IJobServant>>>();

  AContainer.RegisterType<TJobStoragePathProvider<T>>()
      .Implements<IJobStoragePathProvider<T>>()
      .AsSingleton();

  // One instance serves as the job list, as the host's agent-task queue and as what the host shows
  // of the list.
  AContainer.RegisterType<TAgentTaskJobListProvider>()
      .Implements<IJobListProvider<T>>()
      .Implements<IAgentTaskQueue>()
      .Implements<IJobListSnapshotSource>()
      .Constructors<
          Ctor<std::shared_ptr<IServerRequestSender>, std::shared_ptr<IStartConditionStorageManager<T>>,
               std::shared_ptr<IManualJobSaverJobList<T>>, std::shared_ptr<IManualJobLoaderJobList<T>>,
               TClientId, Lazy<IAgentTaskDispatcher>>>()
      .AsSingleton();

  AContainer.RegisterType<TAgentTaskDispatcher>()
      .Implements<IAgentTaskDispatcher>()
      .Constructors<Ctor<TClientId, Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>>>()
      .AsSingleton();

  AContainer.RegisterType<TAgentTaskJobProcessor>()
      .Implements<IAgentTaskJobProcessor>()
      .Constructors<Ctor<std::shared_ptr<IAgentTaskDispatcher>>>();

  // A new service, from a new factory, at every resolution.
  AContainer
      .RegisterType<IJobService>(
          [](TContainer& AOwner) { return AOwner.Resolve<IJobServiceFactory<T>>()->CreateJobService(); })
      .Implements<IJobService>(CAgentTasksJobServiceName);

  AContainer.RegisterType<TRestartAgentTask>()
      .Implements<IAgentTask>("TRestartAgentTask")
      .Constructors<Ctor<std::shared_ptr<ITessraAgentRestartCommand>>>();
  AContainer.RegisterType<TSettingsWatchTask>()
      .Implements<IAgentTask>("TSettingsWatchTask")
      .Constructors<Ctor<std::shared_ptr<IJobListProvider<T>>>>();
  AContainer.RegisterType<TClientCommandScanner>()
      .Implements<IAgentTask>("TClientCommandScanner")
      .Constructors<Ctor<Lazy<IJobListProvider<TJobAction>>>>();
}

// Runs when the module library is loaded (and in every program that links the module's objects).
struct TModuleRegistration {
  TModuleRegistration() { RegisterTypesAtModuleLoad(GlobalContainer()); }
};

const TModuleRegistration GModuleRegistration;

}  // namespace

void RegisterTypes(TContainer& AContainer) {
  TJobServiceFactoryRegistrationUtils<T>::RegisterJobServiceFactory(
      AContainer,
      MakeProcessorPoolClass<T, TAgentTaskJobProcessorPool,
                             Ctor<std::shared_ptr<IJobExecStateReporter>, TFunc<IAgentTaskJobProcessor>>,
                             Ctor<TFunc<IAgentTaskJobProcessor>>>("TAgentTaskJobProcessorPool"));
  RegisterAgentTaskServices(AContainer);
  AContainer.Build();
}

bool RegisterTypesAtModuleLoad(TContainer& AContainer) noexcept {
  // An exception cannot leave dlopen: the host finds "AgentTasks" unresolvable and says so.
  try {
    RegisterTypes(AContainer);
    return true;
  } catch (const std::exception& LException) {
    OrvaneLogger()->LogException(LException,
                                 "Orvane.JobServices.AgentTask.ContainerRegistration.RegisterTypes");
  } catch (...) {
    OrvaneLogger()->Error(
        "Orvane.JobServices.AgentTask.ContainerRegistration.RegisterTypes: unknown exception");
  }
  return false;
}

}  // namespace Orvane
