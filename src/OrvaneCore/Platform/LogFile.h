#pragma once

#include <cstdio>
#include <string>

namespace Orvane {

// Creates the log file AFileName (and its missing folders) readable by the owner only before the
// sink opens it, whatever the umask, and narrows the mode of a file that already exists: the log
// carries job data. Failures are left to the sink's own open, which reports them.
void PrepareLogFile(const std::string& AFileName);

// Keeps the open file AFile from the processes the agent starts.
void KeepFromChildProcesses(std::FILE* AFile);

}  // namespace Orvane
