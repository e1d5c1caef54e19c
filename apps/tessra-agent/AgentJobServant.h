#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "AgentRestartCommand.h"
#include "JobManagement/JobService/JobServantIntf.h"
#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

// The agent's gatekeeper for job starts. Jobs may start unless a reboot or an agent restart is
// pending; then only the restart task itself may (it is what carries the restart out). A system
// shutdown is reported only after the shutdown pass, because the dispatcher refuses every job, the
// shutdown jobs included, while the servant says a shutdown is in progress.
class TAgentJobServant : public IJobServant {
public:
  explicit TAgentJobServant(std::shared_ptr<TAgentRestartCommand> ARestartCommand);

  TNotifyEvent& GetOnJobStartAllowed() override { return FOnJobStartAllowed; }
  TNotifyEvent& GetOnJobStartDenied() override { return FOnJobStartDenied; }
  bool GetIsSystemShutdownInProgress() override;
  void SetIsSystemShutdownInProgress(bool AValue) override;
  bool IsJobStartAllowed(const TJobPtr& AJob) override;
  bool IsRestartRequested() override;
  bool IsRebootRequested() override;
  bool IsJobStartDuringRebootAllowed(const std::string& AContentId) override;
  void SetRebootRequested(bool AValue) override;

private:
  std::shared_ptr<TAgentRestartCommand> FRestartCommand;
  TNotifyEvent FOnJobStartAllowed;
  TNotifyEvent FOnJobStartDenied;
  std::atomic<bool> FShutdownInProgress{false};
  std::atomic<bool> FRebootRequested{false};
};

}  // namespace Orvane
