#include "AgentHost.h"

#include <optional>
#include <utility>

#include "AgentControlCommands.h"
#include "AgentRuntime.h"
#include "AgentSetup.h"
#include "AgentStatusBoard.h"
#include "Control/ControlServer.h"
#include "SystemShutdownProbe.h"
#include "ConsoleJobStateNotifier.h"
#include "InstanceLock.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "OrvaneCore/Logging/LogLimiter.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Threading/OrvaneThread.h"
#include "Server/ClientCertificate.h"
#include "Server/ServerLink.h"

namespace Orvane {


TAgentHost::TAgentHost(TAgentRunOptions AOptions) : FOptions(std::move(AOptions)) {}

void TAgentHost::RequestStop(TStopReason AReason) {
  {
    TMutexLock LLock(FStopLock);
    // The first reason wins: a SIGTERM during a restart still stops, it does not start a shutdown.
    if (FStopReason == TStopReason::srNone) FStopReason = AReason;
  }
  FStopChanged.NotifyAll();
}

bool TAgentHost::IsStopRequested() {
  TMutexLock LLock(FStopLock);
  return FStopReason != TStopReason::srNone;
}

TAgentHost::TStopReason TAgentHost::WaitForStop(const std::function<void()>& AEachHour) {
  TMutexLock LLock(FStopLock);
  // An agent runs for days; each wait is bounded and simply begins again.
  while (!Clock().Wait(FStopChanged, LLock, Clock().DeadlineIn(CHourSeconds), [this] {
    FStopLock.AssertHeld();
    return FStopReason != TStopReason::srNone;
  })) {
    LLock.unlock();
    AEachHour();
    LLock.lock();
  }
  return FStopReason;
}

int TAgentHost::Run() {
  try {
    // Refused before anything is made or touched.
    if (!FOptions.ServerUrl.empty()) {
      if (!FOptions.JobsFile.empty()) throw EAgentBadInput("--jobs is for the local stand-in, not with --server");
      try {
        TServerLinkOptions LLink;
        LLink.ServerUrl = FOptions.ServerUrl;
        LLink.ClientId = FOptions.ClientId;
        LLink.Http = FOptions.Http;
        FOptions.ClientId = CheckServerLinkOptions(LLink);
      } catch (const std::invalid_argument& E) {
        throw EAgentBadInput(E.what());
      }
    }
    // The data directory first: everything after it (the container's services included) reads it.
    FDataDir = UseDataDir(FOptions.DataDir, true);
    if (FOptions.TimeScale <= 0) throw EAgentBadInput("--time-scale must be greater than 0");
    if (FOptions.TimeScale != 1.0) Clock().SetScaled(FOptions.TimeScale);
    if (FOptions.ClientId.empty()) FOptions.ClientId = DefaultClientId();
    int LResult = CExitFailure;
    {
      TAgentLogScope LLog(FOptions.LogLevel, FOptions.LogFile);
      try {
        LResult = RunService();
      } catch (const std::exception& E) {
        OrvaneLogger()->LogException(E, "TAgentHost.Run");
        Fail(E.what());
      }
    }
    // Held until the container's last save is over.
    FInstanceLock.reset();
    return LResult;
  } catch (const EAgentBadInput& E) {
    Fail(E.what());
    return CExitUsage;
  }
}

int TAgentHost::RunService() {
  try {
    FInstanceLock = std::make_unique<TInstanceLock>(FDataDir);
  } catch (const std::exception& E) {
    Fail(E.what());
    return CExitUsage;
  }
  // Under the instance lock nothing else saves here: what a killed agent left half-saved goes.
  if (const int LRemoved = RemoveLeftTemporaryFiles(FDataDir))
    OrvaneLogger()->Warning("Removed %d temporary files left by interrupted saves", {LRemoved});
  TAgentRuntime LRuntime({FDataDir, FOptions.ClientId, FOptions.JobsFile, FOptions.ModulePath,
                          [this] { RequestStop(TStopReason::srRestart); }, FOptions.ServerUrl, FOptions.Http});
  std::shared_ptr<IJobService> LService;
  std::shared_ptr<IAgentTaskQueue> LQueue;
  std::shared_ptr<IAgentTaskDispatcher> LDispatcher;
  std::shared_ptr<IJobListSnapshotSource> LJobList;
  try {
    LRuntime.Load();
    LService = LRuntime.CreateService();
    LQueue = LRuntime.GetQueue();
    LDispatcher = LRuntime.GetDispatcher();
    LJobList = LRuntime.GetJobList();
  } catch (const EAgentBadInput& E) {
    Fail(E.what());
    return CExitUsage;
  } catch (const EAgentLoadError& E) {
    Fail(E.what());
    return CExitFailure;
  }
  const std::shared_ptr<TSystemRunInfo>& LRunInfo = LRuntime.GetRunInfo();
  const std::shared_ptr<TAgentJobServant>& LServant = LRuntime.GetServant();

  auto LStatusBoard = std::make_shared<TAgentStatusBoard>(std::make_shared<TConsoleJobStateNotifier>());
  LService->SetJobStateNotifier(LStatusBoard);
  LRunInfo->SetIsStopping(false);
  LRunInfo->SetIsStartupPass(true);
  LService->SetSystemRunInfo(LRunInfo);
  LService->SetStartDelayInSeconds(FOptions.StartDelaySeconds);

  TAgentSignalWatcher LSignals([this, &LQueue](TAgentSignalWatcher::TSignalKind AKind) {
    switch (AKind) {
      case TAgentSignalWatcher::TSignalKind::skInterrupt:
        RequestStop(TStopReason::srInterrupt);
        break;
      case TAgentSignalWatcher::TSignalKind::skTerminate:
        RequestStop(TStopReason::srTerminate);
        break;
      case TAgentSignalWatcher::TSignalKind::skHangUp:
        // A reload, as "ctl pull" asks for it; a stopping agent loads nothing any more.
        if (IsStopRequested()) break;
        OrvaneLogLimiter().Message("Signals: reload", "SIGHUP: the job list is loaded from the server at the next turn",
                                   {});
        LQueue->GetOnPullRequestReceived().Invoke(nullptr);
        break;
    }
  });
  Say("tessra-agent running: client id " + FOptions.ClientId + ", data directory " + FDataDir +
      (!FOptions.ServerUrl.empty()  ? ", server " + FOptions.ServerUrl
       : FOptions.JobsFile.empty() ? std::string(", built-in job list")
                                   : ", jobs file " + FOptions.JobsFile));
  // A certificate near its end is told at the start and then once a day (checked each hour).
  std::optional<TCertificateExpiryWatch> LCertificateWatch;
  if (!FOptions.ServerUrl.empty() && !FOptions.Http.ClientCert.empty()) {
    LCertificateWatch.emplace(FOptions.Http.ClientCert);
    LCertificateWatch->Check();
  }
  LRuntime.StartOutbox();
  LService->StartAsync(TThreadPriority::tpNormal);

  // Without the control channel the agent still does its work; ctl then says no agent runs.
  std::function<std::string()> LServerStatus;
  const std::shared_ptr<TServerLink> LLink = LRuntime.GetServerLink();
  if (LLink) {
    LServerStatus = [LLink] { return LLink->StatusText(); };
    // A list that arrived after the job list was answered is loaded again, as a pull would.
    LLink->SetOnLateChange([this, LQueue] {
      if (!IsStopRequested()) LQueue->GetOnPullRequestReceived().Invoke(nullptr);
    });
  }
  TAgentControlCommands LCommands(LQueue, LJobList, LStatusBoard, [this] { RequestStop(TStopReason::srInterrupt); },
                                  LServerStatus);
  std::unique_ptr<TControlServer> LControl;
  try {
    LControl = std::make_unique<TControlServer>(
        ControlSocketPath(FDataDir), [&LCommands](const TControlRequest& A) { return LCommands.Handle(A); });
    LControl->Start();
  } catch (const std::exception& E) {
    LControl.reset();
    OrvaneLogger()->LogException(E, "TAgentHost.RunService: the control channel");
    Fail(std::string("the control channel is not available: ") + E.what());
  }

  TStopReason LReason = WaitForStop([&LCertificateWatch] {
    if (LCertificateWatch) LCertificateWatch->Check();
  });
  // Nobody asks for work while the agent stops.
  if (LControl) LControl->Stop();
  if (LLink) LLink->SetOnLateChange({});
  if (LReason == TStopReason::srTerminate && !TSystemShutdownProbe().IsSystemGoingDown())
    LReason = TStopReason::srInterrupt;
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
  // Their reports are in the outbox by now: what the server can take in a few seconds goes now,
  // the rest at the next start.
  LRuntime.StopOutbox(5);
  switch (LReason) {
    case TStopReason::srTerminate:
      Say("tessra-agent: shut down");
      break;
    case TStopReason::srRestart:
      Say("tessra-agent: stopped for an agent restart");
      FRestartRequested = true;
      break;
    default:
      Say("tessra-agent: stopped");
      break;
  }
  return CExitSuccess;
}

}  // namespace Orvane
