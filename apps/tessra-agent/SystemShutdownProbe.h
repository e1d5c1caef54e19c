#pragma once

#include <string>

namespace Orvane {

// Tells, when SIGTERM arrives, whether the system is going down (the shutdown jobs run) or only
// the agent is being stopped (they do not).
//
// Outside systemd, SIGTERM is what init sends every process when the system goes down, so it means
// a shutdown. Under systemd (INVOCATION_ID is set for every unit it starts) SIGTERM comes with every
// stop and restart of the unit as well; there the agent asks systemd: "systemctl
// is-system-running" answers "stopping" only while the system goes down. When systemctl cannot be
// asked or does not answer within a few seconds, the stop counts as a plain stop: running a scan
// at a moment nobody asked for costs less than holding up a shutdown.
//
// TESSRA_AGENT_SYSTEMCTL names the systemctl program to ask (the default is "systemctl" on the
// search path); a test plays either case with a program of its own.
class TSystemShutdownProbe {
public:
  // From the process's environment.
  TSystemShutdownProbe();
  TSystemShutdownProbe(bool AUnderSystemd, std::string ASystemctl);

  bool IsSystemGoingDown() const;

  // How long systemctl may take to answer, in real milliseconds.
  static constexpr int CAnswerTimeoutMs = 5000;

private:
  // systemctl's answer to is-system-running, trimmed; "" when there is none.
  std::string AskSystemState() const;

  bool FUnderSystemd;
  std::string FSystemctl;
};

}  // namespace Orvane
