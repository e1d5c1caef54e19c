#pragma once

#include <string>

#include "Control/ControlProtocol.h"
#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

// Nobody listens on the control socket: there is no socket file, or it was left by an agent that
// is gone.
ORVANE_DECLARE_EXCEPTION(EControlNotRunning, EInvalidOperation);

// The administrator's side of the control channel.
class TControlClient {
public:
  // Sends the request and waits, at most ATimeoutMs of real time in all, for the answer. Throws
  // EControlNotRunning when no agent listens; EControlError for a time-out or a broken answer;
  // EArgumentException for a socket path too long for a Unix socket or a request too long to
  // send; EOSError when the socket cannot be used at all (no permission, for one).
  //
  // A connection that the agent closes before a single byte of its answer was sent carried a
  // request the agent never read (it gave way to newer connections while the agent was flooded):
  // the request is sent again on a new connection, within the same time.
  static TControlAnswer Send(const std::string& ASocketPath, const TControlRequest& ARequest,
                             int ATimeoutMs = 10000);
};

}  // namespace Orvane
