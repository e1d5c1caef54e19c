#include "OrvaneCore/Platform/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

constexpr mode_t CLogFileMode = S_IRUSR | S_IWUSR;

}  // namespace

void PrepareLogFile(const std::string& AFileName) {
  const std::string LFolder = std::filesystem::path(AFileName).parent_path().string();
  // A folder that cannot be made is reported by the sink's own open.
  if (!LFolder.empty()) (void)ForceDirectories(LFolder);
  const TFileHandle LFile(::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, CLogFileMode));
  if (!LFile.IsOpen()) return;  // the sink's own open reports the failure
  (void)::fchmod(LFile.Get(), CLogFileMode);
}

void KeepFromChildProcesses(std::FILE* AFile) {
  (void)::fcntl(::fileno(AFile), F_SETFD, FD_CLOEXEC);
}

}  // namespace Orvane
