#pragma once

#include <string>
#include <vector>

#include "OrvaneCore/Logging/LogSink.h"

namespace Orvane {

struct TTaskCommandOptions {
  std::string DataDir;  // "" for the platform's
  std::string ClientId;  // "" for the host name
  std::string ModulePath;
  TLogLevel LogLevel = TLogLevel::Info;
  std::string LogFile;
};

// "tessra-agent run-task NAME|ID": runs one agent task once, on this thread, through the module's
// agent task dispatcher and without the job service, and prints where the task left its result.
// SIGINT or SIGTERM cuts the run short. Exit 0 when the task succeeded, 1 when it failed, was cut
// short or has no implementation here, 2 when no task has that name or id.
int RunTaskCommand(const TTaskCommandOptions& AOptions, const std::string& ANameOrId,
                   const std::vector<std::string>& APaths);

// "tessra-agent tasks": every agent task with its id, its display name and whether this machine has
// an implementation of it.
int ListTasksCommand(const TTaskCommandOptions& AOptions);

}  // namespace Orvane
