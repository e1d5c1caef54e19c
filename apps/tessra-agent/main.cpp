// tessra-agent: the host agent. "tessra-agent run" runs the agent-task job service until SIGINT
// (stop) or SIGTERM (system shutdown: the shutdown jobs run first).

#include <CLI/CLI.hpp>
#include <map>
#include <string>

#include "AgentHost.h"
#include "AgentSignals.h"

using namespace Orvane;

int main(int argc, char** argv) {
  // Before any thread exists, so that every thread inherits the mask and only the watcher's
  // signalfd sees SIGINT and SIGTERM.
  TAgentSignalWatcher::BlockSignals();

  CLI::App LApp{"tessra-agent: runs the agent tasks of this managed client as scheduled jobs"};
  LApp.require_subcommand(1);
  TAgentRunOptions LOptions;
  std::string LLogLevel = "info";
  CLI::App* LRun = LApp.add_subcommand("run", "Run the agent-task job service until SIGINT or SIGTERM");
  LRun->add_option("--data-dir", LOptions.DataDir,
                   "The agent's data directory (default: /var/lib/tessra-agent as root, else "
                   "~/.local/share/tessra-agent)");
  LRun->add_option(
          "--jobs", LOptions.JobsFile,
          "Job list XML that the built-in server stand-in answers with (default: the built-in job list)")
      ->check(CLI::ExistingFile);
  LRun->add_option("--client-id", LOptions.ClientId, "This client's identity (default: the host name)");
  const std::map<std::string, TLogLevel> LLevels = {
      {"trace", TLogLevel::Trace},     {"debug", TLogLevel::Debug}, {"info", TLogLevel::Info},
      {"warning", TLogLevel::Warning}, {"error", TLogLevel::Error}, {"off", TLogLevel::Off}};
  LRun->add_option("--log-level", LLogLevel,
                   "Console and log file level: trace, debug, info, warning, error, off")
      ->check(CLI::IsMember({"trace", "debug", "info", "warning", "error", "off"}));
  LRun->add_option("--log-file", LOptions.LogFile, "Also write the log to this file");
  LRun->add_option("--time-scale", LOptions.TimeScale,
                   "Run the agent's clock this many times faster (default 1)")
      ->check(CLI::PositiveNumber);
  LRun->add_option("--start-delay", LOptions.StartDelaySeconds,
                   "Seconds to wait before the first turn (default 0)")
      ->check(CLI::NonNegativeNumber);
  LRun->add_option(
      "--module", LOptions.ModulePath,
      "The agent-task module to load (default: libOrvaneJobServicesAgentTask.so beside the program)");

  try {
    LApp.parse(argc, argv);
  } catch (const CLI::ParseError& E) {
    // --help is a success; every other parse failure is a usage error.
    const int LCode = LApp.exit(E);
    return LCode == 0 ? CExitSuccess : CExitUsage;
  }
  LOptions.LogLevel = LLevels.at(LLogLevel);
  return TAgentHost(std::move(LOptions)).Run();
}
