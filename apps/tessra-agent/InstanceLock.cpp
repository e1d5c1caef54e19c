#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

TInstanceLock::TInstanceLock(const std::string& ADataDir)
    : FFileName(IncludeTrailingPathDelimiter(ADataDir) + "tessra-agent.lock") {
  FHandle.Reset(open(FFileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!FHandle.IsOpen())
    throw EFileError("Cannot open the instance lock file " + FFileName + ": " + std::strerror(errno));
  if (flock(FHandle.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int LError = errno;
    FHandle.Reset();
    if (LError == EWOULDBLOCK)
      throw EInvalidOperation("Another tessra-agent is already running on the data directory " + ADataDir);
    throw EFileError("Cannot lock " + FFileName + ": " + std::strerror(LError));
  }
  // The lock file says which process holds it, for whoever wonders.
  const std::string LPid = std::to_string(getpid()) + "\n";
  if (ftruncate(FHandle.Get(), 0) == 0) {
    [[maybe_unused]] const ssize_t LWritten = pwrite(FHandle.Get(), LPid.data(), LPid.size(), 0);
  }
}

TInstanceLock::~TInstanceLock() = default;

}  // namespace Orvane
