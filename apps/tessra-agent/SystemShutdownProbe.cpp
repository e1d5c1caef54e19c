#include "SystemShutdownProbe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Time/Clock.h"

extern char** environ;

namespace Orvane {

namespace {

std::string EnvironmentValue(const char* AName) {
  const char* LValue = std::getenv(AName);
  return LValue ? LValue : "";
}

}  // namespace

TSystemShutdownProbe::TSystemShutdownProbe()
    : TSystemShutdownProbe(!EnvironmentValue("INVOCATION_ID").empty(), EnvironmentValue("TESSRA_AGENT_SYSTEMCTL")) {}

TSystemShutdownProbe::TSystemShutdownProbe(bool AUnderSystemd, std::string ASystemctl)
    : FUnderSystemd(AUnderSystemd), FSystemctl(ASystemctl.empty() ? "systemctl" : std::move(ASystemctl)) {}

bool TSystemShutdownProbe::IsSystemGoingDown() const {
  if (!FUnderSystemd) return true;
  const std::string LState = AskSystemState();
  OrvaneLogger()->Message("SIGTERM under systemd; the system state is: %s", {LState.empty() ? "unknown" : LState});
  return LState == "stopping";
}

std::string TSystemShutdownProbe::AskSystemState() const {
  int LPipe[2];
  if (pipe2(LPipe, O_CLOEXEC) != 0) {
    OrvaneLogger()->LastError("Cannot ask systemd for the system state", errno);
    return "";
  }
  TFileHandle LReadEnd(LPipe[0]);
  TFileHandle LWriteEnd(LPipe[1]);
  posix_spawn_file_actions_t LActions;
  posix_spawn_file_actions_init(&LActions);
  posix_spawn_file_actions_adddup2(&LActions, LWriteEnd.Get(), STDOUT_FILENO);
  posix_spawnattr_t LAttributes;
  posix_spawnattr_init(&LAttributes);
  // The child must not inherit the agent's blocked SIGINT and SIGTERM.
  sigset_t LEmpty;
  sigemptyset(&LEmpty);
  posix_spawnattr_setsigmask(&LAttributes, &LEmpty);
  posix_spawnattr_setflags(&LAttributes, POSIX_SPAWN_SETSIGMASK);
  std::string LProgram = FSystemctl;
  std::string LCommand = "is-system-running";
  char* LArguments[] = {LProgram.data(), LCommand.data(), nullptr};
  pid_t LChild = -1;
  const int LSpawned = posix_spawnp(&LChild, LProgram.c_str(), &LActions, &LAttributes, LArguments, environ);
  posix_spawn_file_actions_destroy(&LActions);
  posix_spawnattr_destroy(&LAttributes);
  // Only the child writes: its end of the pipe is what tells us it is done.
  LWriteEnd.Reset();
  if (LSpawned != 0) {
    OrvaneLogger()->LastError("Cannot run " + FSystemctl, LSpawned);
    return "";
  }

  std::string LOutput;
  const TMonoTime LDeadline = Clock().RealMonotonic() + std::chrono::milliseconds(CAnswerTimeoutMs);
  bool LComplete = false;
  while (!LComplete && LOutput.size() < 4096) {
    const auto LLeft =
        std::chrono::duration_cast<std::chrono::milliseconds>(LDeadline - Clock().RealMonotonic()).count();
    if (LLeft <= 0) break;
    pollfd LFd{LReadEnd.Get(), POLLIN, 0};
    const int LReady = poll(&LFd, 1, static_cast<int>(LLeft));
    if (LReady < 0 && errno == EINTR) continue;
    if (LReady <= 0) break;
    char LBuffer[256];
    const ssize_t LRead = read(LReadEnd.Get(), LBuffer, sizeof(LBuffer));
    if (LRead < 0 && errno == EINTR) continue;
    if (LRead <= 0) {
      LComplete = true;
    } else {
      LOutput.append(LBuffer, static_cast<std::size_t>(LRead));
    }
  }
  LReadEnd.Reset();
  if (!LComplete) {
    OrvaneLogger()->Warning("%s did not answer in time", {FSystemctl});
    kill(LChild, SIGKILL);
  }
  int LStatus = 0;
  while (waitpid(LChild, &LStatus, 0) < 0 && errno == EINTR) {
  }
  return LComplete ? Trim(LOutput) : "";
}

}  // namespace Orvane
