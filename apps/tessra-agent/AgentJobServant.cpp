#include "AgentJobServant.h"

#include <utility>

#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

namespace {
// The restart task's id; it may run while its own restart is pending.
constexpr const char* CRestartAgentTaskId = "{D1831D0F-0620-4A5C-A0BE-0EBE5F41D040}";
}  // namespace

TAgentJobServant::TAgentJobServant(std::shared_ptr<TAgentRestartCommand> ARestartCommand)
    : FRestartCommand(std::move(ARestartCommand)),
      FOnJobStartAllowed("JobStartAllowed"),
      FOnJobStartDenied("JobStartDenied") {}

bool TAgentJobServant::GetIsSystemShutdownInProgress() {
  // The host sets it only once the shutdown pass has run: saying so earlier would make the
  // dispatcher refuse the very jobs that the pass is about to run.
  return FShutdownInProgress.load();
}

void TAgentJobServant::SetIsSystemShutdownInProgress(bool AValue) {
  FShutdownInProgress.store(AValue);
}

bool TAgentJobServant::IsJobStartAllowed(const TJobPtr& AJob) {
  const bool LAllowed = AJob && IsJobStartDuringRebootAllowed(AJob->GetContentId());
  if (LAllowed)
    FOnJobStartAllowed.Invoke(AJob.get());
  else
    FOnJobStartDenied.Invoke(AJob.get());
  return LAllowed;
}

bool TAgentJobServant::IsRestartRequested() {
  return FRestartCommand && FRestartCommand->GetIsRestartRequested();
}

bool TAgentJobServant::IsRebootRequested() {
  return FRebootRequested.load();
}

bool TAgentJobServant::IsJobStartDuringRebootAllowed(const std::string& AContentId) {
  // Asked before every start: with nothing pending every job may start; during a reboot none;
  // during an agent restart only the restart task, which is what carries it out.
  if (IsRebootRequested()) return false;
  if (!IsRestartRequested()) return true;
  return SameText(AContentId, CRestartAgentTaskId);
}

void TAgentJobServant::SetRebootRequested(bool AValue) {
  FRebootRequested.store(AValue);
}

}  // namespace Orvane
