// tessra-agent: the host agent.
//   run        runs the agent-task job service until SIGINT (stop) or SIGTERM (system shutdown: the
//              shutdown jobs run first; under systemd only when the system goes down); SIGHUP
//              reloads the job list, SIGUSR1, SIGUSR2 and SIGPIPE are ignored
//   ctl        asks the running agent for work or for its status
//   run and ctl read their options also from a configuration file (--config FILE, AgentConfig.h)
//   run-task   runs one agent task once, without the service
//   tasks      lists the agent tasks

#include <CLI/CLI.hpp>
#include <map>
#include <string>
#include <vector>

#include "AgentConfig.h"
#include "AgentHost.h"
#include "AgentReExec.h"
#include "AgentSignals.h"
#include "AgentTaskNames.h"
#include "ControlCommand.h"
#include "TaskCommands.h"

using namespace Orvane;

namespace {

const std::map<std::string, TLogLevel> CLogLevels = {
    {"trace", TLogLevel::Trace},     {"debug", TLogLevel::Debug}, {"info", TLogLevel::Info},
    {"warning", TLogLevel::Warning}, {"error", TLogLevel::Error}, {"off", TLogLevel::Off}};

void AddDataDirOption(CLI::App* ACommand, std::string& AValue) {
  ACommand->add_option("--data-dir", AValue,
                       "The agent's data directory (default: /var/lib/tessra-agent as root, else "
                       "~/.local/share/tessra-agent)");
}

void AddLogLevelOption(CLI::App* ACommand, std::string& AValue, const std::string& ADefault) {
  ACommand->add_option("--log-level", AValue, "Log level: trace, debug, info, warning, error, off (default " +
                                                  ADefault + ")")
      ->check(CLI::IsMember({"trace", "debug", "info", "warning", "error", "off"}));
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits the mask and only the watcher's
  // signalfd sees the signals the agent handles or ignores.
  TAgentSignalWatcher::BlockSignals();
  TAgentReExec::RememberInvocation(argc, argv);

  CLI::App LApp{"tessra-agent: runs the agent tasks of this managed client as scheduled jobs"};
  LApp.require_subcommand(1);

  // run
  TAgentRunOptions LOptions;
  std::string LLogLevel = "info";
  CLI::App* LRun = LApp.add_subcommand("run", "Run the agent-task job service until SIGINT or SIGTERM");
  AddDataDirOption(LRun, LOptions.DataDir);
  LRun->add_option("--jobs", LOptions.JobsFile,
                   "Job list XML that the built-in server stand-in answers with (default: the built-in job list)")
      ->check(CLI::ExistingFile);
  LRun->add_option("--server", LOptions.ServerUrl,
                   "The management server's URL (https); without it the built-in server stand-in is used");
  // The server's options take effect with --server only; they do not require it, so that one
  // configuration file may list them all.
  LRun->add_flag("--allow-insecure-http", LOptions.Http.AllowInsecureHttp, "Allow an http:// server URL (tests only)");
  LRun->add_option("--ca-file", LOptions.Http.CaFile, "PEM file of the CAs trusted for the server (default: the system's)");
  LRun->add_option("--client-cert", LOptions.Http.ClientCert, "PEM client certificate for mutual TLS");
  LRun->add_option("--client-key", LOptions.Http.ClientKey, "PEM key of the client certificate (owner-only)");
  LRun->add_option("--client-id", LOptions.ClientId,
                   "This client's identity (default: the client certificate's CN, else the host name)");
  AddLogLevelOption(LRun, LLogLevel, "info");
  LRun->add_option("--log-file", LOptions.LogFile, "Also write the log to this file");
  LRun->add_option("--time-scale", LOptions.TimeScale, "Run the agent's clock this many times faster (default 1)")
      ->check(CLI::PositiveNumber);
  LRun->add_option("--start-delay", LOptions.StartDelaySeconds, "Seconds to wait before the first turn (default 0)")
      ->check(CLI::NonNegativeNumber);
  LRun->add_option("--module", LOptions.ModulePath,
                   "The agent-task module to load (default: libOrvaneJobServicesAgentTask.so beside the program)");

  // ctl
  std::string LCtlDataDir;
  CLI::App* LCtl = LApp.add_subcommand("ctl", "Ask the agent that runs on the data directory for work or status");
  AddDataDirOption(LCtl, LCtlDataDir);
  double LCtlTimeout = 10;
  LCtl->add_option("--timeout", LCtlTimeout, "Seconds to wait for the agent's answer (default 10)")
      ->check(CLI::Range(0.1, 3600.0));
  LCtl->require_subcommand(1);
  std::string LEnqueueName;
  int32_t LDelayMinutes = 0;
  CLI::App* LEnqueue = LCtl->add_subcommand("enqueue", "Run an agent task as a manual job, now or after a delay");
  LEnqueue->add_option("task", LEnqueueName, "The task's display name (letter case aside) or id")->required();
  LEnqueue->add_option("--delay-minutes", LDelayMinutes, "Minutes to wait before the job is due (default 0)")
      ->check(CLI::Range(0, 366 * 24 * 60));
  CLI::App* LEnqueueAll = LCtl->add_subcommand("enqueue-all", "Run every scanner as a manual job");
  CLI::App* LPull = LCtl->add_subcommand("pull", "Load the job list from the server at the next turn");
  CLI::App* LStatus = LCtl->add_subcommand("status", "Show the queue, the running jobs and the job list");
  CLI::App* LStop = LCtl->add_subcommand("stop", "Stop the agent, as SIGINT does");

  // run-task
  TTaskCommandOptions LTaskOptions;
  std::string LTaskLogLevel = "info";
  std::string LTaskName;
  std::vector<std::string> LPaths;
  CLI::App* LRunTask = LApp.add_subcommand("run-task", "Run one agent task once, without the service");
  LRunTask->add_option("task", LTaskName, "The task's display name (letter case aside) or id")->required();
  AddDataDirOption(LRunTask, LTaskOptions.DataDir);
  LRunTask->add_option("--path", LPaths, "A file or directory for the File Scanner (repeatable)");
  LRunTask->add_option("--client-id", LTaskOptions.ClientId, "This client's identity (default: the host name)");
  AddLogLevelOption(LRunTask, LTaskLogLevel, "info");
  LRunTask->add_option("--log-file", LTaskOptions.LogFile, "Also write the log to this file");
  LRunTask->add_option("--module", LTaskOptions.ModulePath, "The agent-task module to load");

  // tasks
  CLI::App* LTasks = LApp.add_subcommand("tasks", "List the agent tasks and whether this machine implements them");
  AddDataDirOption(LTasks, LTaskOptions.DataDir);
  LTasks->add_option("--module", LTaskOptions.ModulePath, "The agent-task module to load");

  // run and ctl read their options also from the file that --config names.
  TAgentConfigFile LConfigFile(LApp, *LRun, {LCtl});
  if (const std::optional<int> LExit = LConfigFile.Parse(argc, argv)) return *LExit;

  if (LRun->parsed()) {
    LOptions.LogLevel = CLogLevels.at(LLogLevel);
    TAgentHost LHost(std::move(LOptions));
    const int LResult = LHost.Run();
    if (LResult != CExitSuccess || !LHost.GetRestartRequested()) return LResult;
    Say("tessra-agent: restarting");
    Fail("the restart failed: " + TAgentReExec::ExecuteAgain());
    return CExitFailure;
  }
  if (LCtl->parsed()) {
    TControlRequest LRequest;
    if (LEnqueue->parsed()) {
      const std::optional<std::string> LId = FindAgentTaskId(LEnqueueName);
      if (!LId) {
        Fail("no agent task is called \"" + LEnqueueName + "\"; \"tessra-agent tasks\" lists them");
        return CExitUsage;
      }
      LRequest = {"enqueue", {*LId}};
      if (LDelayMinutes > 0) LRequest.Arguments.push_back(std::to_string(LDelayMinutes));
    } else if (LEnqueueAll->parsed()) {
      LRequest = {"enqueue-all", {}};
    } else if (LPull->parsed()) {
      LRequest = {"pull", {}};
    } else if (LStatus->parsed()) {
      LRequest = {"status", {}};
    } else if (LStop->parsed()) {
      LRequest = {"stop", {}};
    }
    return ControlCommand(LCtlDataDir, LRequest, static_cast<int>(LCtlTimeout * 1000));
  }
  LTaskOptions.LogLevel = CLogLevels.at(LTaskLogLevel);
  if (LRunTask->parsed()) return RunTaskCommand(LTaskOptions, LTaskName, LPaths);
  return ListTasksCommand(LTaskOptions);
}
