#include "AgentHost.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>

#include "AgentRuntime.h"
#include "ConsoleJobStateNotifier.h"
#include "InstanceLock.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Container/Container.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Logging/TextLogSink.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Threading/OrvaneThread.h"

namespace Orvane {

namespace {

void Fail(const std::string& AText) {
  std::cerr << "tessra-agent: " << AText << std::endl;
}

void Say(const std::string& AText) {
  const std::string LLine = AText + "\n";
  std::fwrite(LLine.data(), 1, LLine.size(), stdout);
  std::fflush(stdout);
}

std::string HostName() {
  char LName[256] = {};
  if (gethostname(LName, sizeof(LName) - 1) != 0 || LName[0] == 0) return "localhost";
  return LName;
}

}  // namespace

TAgentHost::TAgentHost(TAgentRunOptions AOptions) : FOptions(std::move(AOptions)) {}

void TAgentHost::RequestStop(TStopReason AReason) {
  {
    TMutexLock LLock(FStopLock);
    // The first reason wins: a SIGTERM during a restart still stops, it does not start a shutdown.
    if (FStopReason == TStopReason::srNone) FStopReason = AReason;
  }
  FStopChanged.NotifyAll();
}

TAgentHost::TStopReason TAgentHost::WaitForStop() {
  TMutexLock LLock(FStopLock);
  // An agent runs for days; each wait is bounded and simply begins again.
  while (!Clock().Wait(FStopChanged, LLock, Clock().DeadlineIn(3600), [this] {
    FStopLock.AssertHeld();
    return FStopReason != TStopReason::srNone;
  })) {
  }
  return FStopReason;
}

int TAgentHost::Run() {
  // The data directory first: everything after it (the container's services included) reads it.
  if (!FOptions.DataDir.empty()) {
    if (!ForceDirectories(FOptions.DataDir)) {
      Fail("cannot create the data directory " + FOptions.DataDir + ": " + std::strerror(errno));
      return CExitUsage;
    }
    setenv("ORVANE_COMMON_APPDATA", FOptions.DataDir.c_str(), 1);
  }
  try {
    FDataDir = GetCommonAppDataDir();
  } catch (const std::exception& E) {
    Fail(std::string("the data directory cannot be used: ") + E.what());
    return CExitUsage;
  }
  if (FOptions.TimeScale <= 0) {
    Fail("--time-scale must be greater than 0");
    return CExitUsage;
  }
  if (FOptions.TimeScale != 1.0) Clock().SetScaled(FOptions.TimeScale);
  if (FOptions.ClientId.empty()) FOptions.ClientId = HostName();

  std::shared_ptr<TTextLogSink> LSink;
  try {
    LSink = std::make_shared<TTextLogSink>(TTextLogSinkOptions{true, FOptions.LogFile, FOptions.LogLevel});
  } catch (const std::exception& E) {
    Fail(std::string("cannot open the log file: ") + E.what());
    return CExitUsage;
  }
  AddLogSink(LSink);

  int LResult = CExitFailure;
  try {
    LResult = RunService();
  } catch (const std::exception& E) {
    OrvaneLogger()->LogException(E, "TAgentHost.Run");
    Fail(E.what());
  }
  // The container's singletons log while they go, so it goes before the logger does.
  GlobalContainer().Teardown();
  LSink->Flush();
  RemoveAllLogSinks();
  FInstanceLock.reset();
  return LResult;
}

int TAgentHost::RunService() {
  try {
    FInstanceLock = std::make_unique<TInstanceLock>(FDataDir);
  } catch (const std::exception& E) {
    Fail(E.what());
    return CExitUsage;
  }
  TAgentRuntime LRuntime({FDataDir, FOptions.ClientId, FOptions.JobsFile, FOptions.ModulePath,
                          [this] { RequestStop(TStopReason::srRestart); }});
  std::shared_ptr<IJobService> LService;
  std::shared_ptr<IAgentTaskQueue> LQueue;
  std::shared_ptr<IAgentTaskDispatcher> LDispatcher;
  try {
    LRuntime.Load();
    LService = LRuntime.CreateService();
    LQueue = LRuntime.GetQueue();
    LDispatcher = LRuntime.GetDispatcher();
  } catch (const EAgentBadInput& E) {
    Fail(E.what());
    return CExitUsage;
  } catch (const EAgentLoadError& E) {
    Fail(E.what());
    return CExitFailure;
  }
  const std::shared_ptr<TSystemRunInfo>& LRunInfo = LRuntime.GetRunInfo();
  const std::shared_ptr<TAgentJobServant>& LServant = LRuntime.GetServant();

  LService->SetJobStateNotifier(std::make_shared<TConsoleJobStateNotifier>());
  LRunInfo->SetIsStopping(false);
  LRunInfo->SetIsStartupPass(true);
  LService->SetSystemRunInfo(LRunInfo);
  LService->SetStartDelayInSeconds(FOptions.StartDelaySeconds);

  TAgentSignalWatcher LSignals([this](TAgentSignalWatcher::TSignalKind AKind) {
    RequestStop(AKind == TAgentSignalWatcher::TSignalKind::skTerminate ? TStopReason::srTerminate
                                                                       : TStopReason::srInterrupt);
  });
  Say("tessra-agent running: client id " + FOptions.ClientId + ", data directory " + FDataDir +
      (FOptions.JobsFile.empty() ? std::string(", built-in job list") : ", jobs file " + FOptions.JobsFile));
  LService->StartAsync(TThreadPriority::tpNormal);

  const TStopReason LReason = WaitForStop();
  switch (LReason) {
    case TStopReason::srTerminate:
      Say("tessra-agent: system shutdown, running the shutdown jobs");
      // The service stops and runs its shutdown pass inside the event, on this thread.
      LRunInfo->SetIsShutdownPass(true);
      LRunInfo->GetSystemShutdown().Invoke(LRunInfo.get());
      LServant->SetIsSystemShutdownInProgress(true);
      LService->Stop();
      break;
    default:
      LService->Stop();
      break;
  }
  // Jobs still running (the restart job that asked for this stop, say) end normally, and their
  // end is reported, before the agent says it has stopped.
  LRuntime.GetProcessorPool()->WaitForJobs(30);
  switch (LReason) {
    case TStopReason::srTerminate:
      Say("tessra-agent: shut down");
      break;
    case TStopReason::srRestart:
      Say("tessra-agent: an agent restart was requested; the agent has stopped, start it again to restart");
      break;
    default:
      Say("tessra-agent: stopped");
      break;
  }
  return CExitSuccess;
}

}  // namespace Orvane
