#include "TaskCommands.h"

#include <fmt/format.h>

#include <atomic>
#include <set>

#include "AgentRuntime.h"
#include "AgentSetup.h"
#include "AgentSignals.h"
#include "AgentTaskNames.h"
#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {

namespace {

// The runtime of a command that runs no service: a restart request has nothing to restart.
TAgentRuntimeOptions RuntimeOptions(const TTaskCommandOptions& AOptions, const std::string& ADataDir) {
  return {ADataDir, AOptions.ClientId.empty() ? DefaultClientId() : AOptions.ClientId, "",
          AOptions.ModulePath,
          [] { Say("tessra-agent: an agent restart was requested; no agent service runs in this command"); },
          "",
          {}};
}

// Runs a command's body and turns what it throws into the program's exit codes.
template <class TBody>
int Guarded(TBody&& ABody) {
  try {
    return ABody();
  } catch (const EAgentBadInput& E) {
    Fail(E.what());
    return CExitUsage;
  } catch (const std::exception& E) {
    Fail(E.what());
    return CExitFailure;
  }
}

}  // namespace

int RunTaskCommand(const TTaskCommandOptions& AOptions, const std::string& ANameOrId,
                   const std::vector<std::string>& APaths) {
  const std::optional<std::string> LId = FindAgentTaskId(ANameOrId);
  if (!LId) {
    Fail("no agent task is called \"" + ANameOrId + "\"; \"tessra-agent tasks\" lists them");
    return CExitUsage;
  }
  const std::string LName = GetAgentTaskName(*LId);
  return Guarded([&] {
    const std::string LDataDir = UseDataDir(AOptions.DataDir, true);
    TAgentLogScope LLog(AOptions.LogLevel, AOptions.LogFile);
    TAgentRuntime LRuntime(RuntimeOptions(AOptions, LDataDir));
    LRuntime.Load();
    const std::shared_ptr<IAgentTaskDispatcher> LDispatcher = LRuntime.GetDispatcher();
    const bool LImplemented = LRuntime.GetImplementedTaskIds().count(UpperCase(*LId)) > 0;

    std::shared_ptr<TScannerJobAction> LAction = CreateDefaultAgentTaskAction(*LId);
    LAction->AgentTaskId = *LId;
    if (auto LFileAction = std::dynamic_pointer_cast<TFileScannerJobAction>(LAction)) {
      LFileAction->Paths = APaths;
    } else if (!APaths.empty()) {
      Fail("--path is for the File Scanner only");
      return CExitUsage;
    }

    std::atomic<bool> LStopRequested{false};
    TAgentSignalWatcher LSignals([&](TAgentSignalWatcher::TSignalKind) {
      if (!LStopRequested.exchange(true)) OrvaneLogger()->Message("run-task: a stop was asked for");
    });
    Say("tessra-agent: running " + LName + " " + *LId);
    const bool LSucceeded = LDispatcher->StartScanner(LAction, [&] { return !LStopRequested.load(); });
    if (!LImplemented) {
      Fail(LName + " has no implementation on this machine");
      return CExitFailure;
    }
    if (LStopRequested.load()) {
      Fail(LName + " was cut short");
      return CExitFailure;
    }
    if (!LSucceeded) {
      Fail(LName + " failed; the log says why");
      return CExitFailure;
    }
    const std::string LResult = TTaskResultStore::ForTask(LDataDir, LName).Newest();
    Say(LResult.empty() ? "tessra-agent: " + LName + " succeeded; it leaves no result document"
                        : "tessra-agent: " + LName + " succeeded; result: " + LResult);
    return CExitSuccess;
  });
}

int ListTasksCommand(const TTaskCommandOptions& AOptions) {
  return Guarded([&] {
    const std::string LDataDir = UseDataDir(AOptions.DataDir, true);
    TAgentLogScope LLog(AOptions.LogLevel, AOptions.LogFile);
    TAgentRuntime LRuntime(RuntimeOptions(AOptions, LDataDir));
    LRuntime.Load();
    const std::set<std::string> LImplemented = LRuntime.GetImplementedTaskIds();
    std::string LText = fmt::format("{:<38}  {:<27}  {}\n", "ID", "NAME", "ON THIS MACHINE");
    for (const std::string_view LId : CAgentTaskIds)
      LText += fmt::format("{:<38}  {:<27}  {}\n", LId, GetAgentTaskName(LId),
                           LImplemented.count(UpperCase(LId)) ? "yes" : "no");
    std::fwrite(LText.data(), 1, LText.size(), stdout);
    return CExitSuccess;
  });
}

}  // namespace Orvane
