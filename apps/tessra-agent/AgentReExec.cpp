#include "AgentReExec.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "AgentSignals.h"

namespace Orvane {

namespace {

// Written once in main before any thread exists.
std::string GProgramPath;
std::vector<std::string> GArguments;

std::string ReadProgramPath() {
  std::vector<char> LBuffer(4096);
  const ssize_t LLength = readlink("/proc/self/exe", LBuffer.data(), LBuffer.size() - 1);
  if (LLength <= 0) return "";
  return std::string(LBuffer.data(), static_cast<std::size_t>(LLength));
}

void MarkAllDescriptorsCloseOnExec() {
  if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
  // Kernels before 5.11: walk the process's descriptors.
  DIR* LDir = opendir("/proc/self/fd");
  if (!LDir) return;
  const int LOwn = dirfd(LDir);
  while (const dirent* LEntry = readdir(LDir)) {
    const int LFd = std::atoi(LEntry->d_name);
    if (LFd > 2 && LFd != LOwn) fcntl(LFd, F_SETFD, fcntl(LFd, F_GETFD) | FD_CLOEXEC);
  }
  closedir(LDir);
}

}  // namespace

void TAgentReExec::RememberInvocation(int AArgc, char** AArgv) {
  GProgramPath = ReadProgramPath();
  GArguments.assign(AArgv, AArgv + AArgc);
}

std::string TAgentReExec::ExecuteAgain() {
  if (GProgramPath.empty() || GArguments.empty()) return "the program's own path is not known";
  std::vector<char*> LArguments;
  for (std::string& LArgument : GArguments) LArguments.push_back(LArgument.data());
  LArguments.push_back(nullptr);
  MarkAllDescriptorsCloseOnExec();
  TAgentSignalWatcher::RestoreSignalMask();
  execv(GProgramPath.c_str(), LArguments.data());
  const std::string LReason = std::string("cannot execute ") + GProgramPath + ": " + std::strerror(errno);
  // Still this program: keep the signals where its watcher would expect them.
  TAgentSignalWatcher::BlockSignals();
  return LReason;
}

}  // namespace Orvane
