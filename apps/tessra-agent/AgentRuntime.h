#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>

#include "AgentJobServant.h"
#include "AgentRestartCommand.h"
#include "AgentServerStandIn.h"
#include "JobServices/AgentTask/Dispatcher.Intf.h"
#include "OrvaneClientShared/AgentTaskQueue.Intf.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Interfaces/JobListSnapshot.Intf.h"
#include "OrvaneCore/Interfaces/JobProcessorPool.Intf.h"
#include "OrvaneCore/Interfaces/JobService.Intf.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "Server/HttpClient.h"
#include "Server/Outbox.h"
#include "Server/ServerLink.h"
#include "TakenManualJobs.h"

namespace Orvane {

// The user's input cannot be used (a jobs file that does not read): the program exits with 2.
ORVANE_DECLARE_EXCEPTION(EAgentBadInput, Exception);
// The agent cannot be put together (the module is missing or provides nothing): exit 1.
ORVANE_DECLARE_EXCEPTION(EAgentLoadError, Exception);

struct TAgentRuntimeOptions {
  std::string DataDir;
  std::string ClientId;
  std::string JobsFile;    // "" for the built-in job list
  std::string ModulePath;  // "" for the module beside the program
  // Called on a job's thread when the restart task asks for an agent restart.
  std::function<void()> OnRestartRequested;
  // "" for the local stand-in; else the management server's URL and how it is reached.
  std::string ServerUrl;
  THttpClientOptions Http;
};

// What every mode of the program needs of the host: the host's own services (the server link, or
// the local stand-in without a server, behind the record of taken manual jobs, the servant, the restart command, the run information,
// the host's agent tasks) in the global container, the agent-task module loaded into it, and the
// services the host takes from it. The job list's manual-job saver is made once, here, so that
// the record hears of each of its saves.
// One per process: the container is the process's.
class TAgentRuntime {
public:
  explicit TAgentRuntime(TAgentRuntimeOptions AOptions);

  // Registers the host's services and loads the module. Throws EAgentBadInput or EAgentLoadError
  // with a text for the user.
  void Load();

  // A new "AgentTasks" job service; each call gives a new one.
  std::shared_ptr<IJobService> CreateService();
  std::shared_ptr<IAgentTaskQueue> GetQueue();
  std::shared_ptr<IAgentTaskDispatcher> GetDispatcher();
  std::shared_ptr<IJobListSnapshotSource> GetJobList();
  std::shared_ptr<IJobProcessorPool<TScannerJobAction>> GetProcessorPool();
  const std::shared_ptr<TSystemRunInfo>& GetRunInfo() const { return FRunInfo; }
  const std::shared_ptr<TAgentJobServant>& GetServant() const { return FServant; }

  // The ids of the agent tasks that have an implementation in this process (the host's and the
  // module's), upper case.
  std::set<std::string> GetImplementedTaskIds();

  // The sending of reports and results to the server, with the service: started before it, stopped after its
  // jobs ended, given up to AFlushSeconds to send what is left. Nothing without a server.
  // The server link, when the agent runs with --server; null with the stand-in.
  const std::shared_ptr<TServerLink>& GetServerLink() const { return FServerLink; }
  void StartOutbox();
  void StopOutbox(double AFlushSeconds);

private:
  template <class I>
  std::shared_ptr<I> ResolveFromModule(const char* AWhat, std::string_view AName = {});
  void WatchJobListSaver();

  TAgentRuntimeOptions FOptions;
  std::string FModulePath;
  std::shared_ptr<TSystemRunInfo> FRunInfo;
  std::shared_ptr<TAgentRestartCommand> FRestartCommand;
  std::shared_ptr<TAgentJobServant> FServant;
  std::shared_ptr<TAgentServerStandIn> FStandIn;
  std::shared_ptr<TOutbox> FOutbox;
  std::shared_ptr<TServerLink> FServerLink;
  std::shared_ptr<TTakenManualJobs> FTakenJobs;
};

}  // namespace Orvane
