#include "ControlCommand.h"

#include <cstdio>

#include "AgentRuntime.h"
#include "AgentSetup.h"
#include "Control/ControlClient.h"

namespace Orvane {

int ControlCommand(const std::string& ADataDirOption, const TControlRequest& ARequest, int ATimeoutMs) {
  std::string LDataDir;
  try {
    LDataDir = UseDataDir(ADataDirOption, false);
  } catch (const EAgentBadInput& E) {
    Fail(E.what());
    return CExitUsage;
  }
  TControlAnswer LAnswer;
  try {
    LAnswer = TControlClient::Send(ControlSocketPath(LDataDir), ARequest, ATimeoutMs);
  } catch (const EControlNotRunning&) {
    Fail("no tessra-agent is running on the data directory " + LDataDir);
    return CExitFailure;
  } catch (const std::exception& E) {
    Fail("the agent on " + LDataDir + " cannot be reached: " + E.what());
    return CExitFailure;
  }
  std::string LText = LAnswer.Text;
  if (!LText.empty() && LText.back() != '\n') LText += '\n';
  if (!LAnswer.Ok) {
    Fail(LText.empty() ? std::string("the agent refused the request") : LText.substr(0, LText.size() - 1));
    return CExitFailure;
  }
  std::fwrite(LText.data(), 1, LText.size(), stdout);
  return CExitSuccess;
}

}  // namespace Orvane
