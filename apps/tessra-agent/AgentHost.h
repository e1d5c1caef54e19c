#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "AgentSetup.h"
#include "AgentSignals.h"
#include "InstanceLock.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Platform/Mutex.h"
#include "OrvaneCore/Time/Clock.h"
#include "Server/HttpClient.h"

namespace Orvane {

struct TAgentRunOptions {
  std::string DataDir;  // "" for the platform's data directory
  std::string JobsFile;
  std::string ClientId;  // "" for the client certificate's CN with --server, else the host name
  TLogLevel LogLevel = TLogLevel::Info;
  std::string LogFile;
  double TimeScale = 1.0;
  int32_t StartDelaySeconds = 0;
  std::string ModulePath;  // "" for the module beside the program
  std::string ServerUrl;   // "" for the local stand-in
  THttpClientOptions Http;
};

// Runs the agent-task job service until a signal, a control request or a restart request ends it: registers the
// host's services, loads the module, starts the service, waits, and stops or shuts down as asked.
// SIGHUP reloads the job list as "ctl pull" does; SIGUSR1, SIGUSR2 and SIGPIPE change nothing.
// Bad input (server options, data directory, jobs file, log file, a second agent) is told on standard error and
// answered with CExitUsage before anything runs.
class TAgentHost {
public:
  explicit TAgentHost(TAgentRunOptions AOptions);
  int Run();
  // After Run: the agent stopped for an agent restart, and everything it held is released; the
  // caller executes the program again.
  bool GetRestartRequested() const { return FRestartRequested; }

private:
  enum class TStopReason { srNone, srInterrupt, srTerminate, srRestart };

  void RequestStop(TStopReason AReason) EXCLUDES(FStopLock);
  bool IsStopRequested() EXCLUDES(FStopLock);
  static constexpr double CHourSeconds = 3600;
  // Calls AEachHour on this thread each hour until a stop is asked for.
  TStopReason WaitForStop(const std::function<void()>& AEachHour);
  int RunService();

  TAgentRunOptions FOptions;
  std::string FDataDir;
  // Held from the first file touched to the last one saved.
  std::unique_ptr<TInstanceLock> FInstanceLock;
  TMutex FStopLock;
  TClockCondition FStopChanged;
  TStopReason FStopReason GUARDED_BY(FStopLock) = TStopReason::srNone;
  bool FRestartRequested = false;  // the main thread's only
};

}  // namespace Orvane
