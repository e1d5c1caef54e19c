#pragma once

#include <string>

namespace Orvane {

// The agent's restart: once the agent has stopped cleanly, the process executes the program again
// with the arguments it was started with. The program is taken from the path it was installed
// under, read at start: an upgrade that replaced the file in the meantime is what runs next, not
// the old image this process came from.
class TAgentReExec {
public:
  // Called first thing in main.
  static void RememberInvocation(int AArgc, char** AArgv);

  // Marks every descriptor above standard error close-on-exec (the instance lock, the log file, the
  // control socket, whatever a library opened), gives back the signal mask the program was started
  // with and executes the program. Returns only when that failed, with the reason.
  static std::string ExecuteAgain();
};

}  // namespace Orvane
