#include "OrvaneCore/Platform/LogFile.h"

#include <io.h>

#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/Windows/WindowsApi.h"

namespace Orvane {

void PrepareLogFile(const std::string& AFileName) {
  const std::size_t LSlash = AFileName.find_last_of("/\\");
  // A folder that cannot be made is reported by the sink's own open.
  if (LSlash != std::string::npos && LSlash > 0) (void)ForceDirectories(AFileName.substr(0, LSlash));
  // A new file gets the owner-only ACL; an existing one keeps its own.
  const HANDLE LFile = ::CreateFileW(Wide(AFileName).c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OwnerOnlySecurity(),
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (LFile != INVALID_HANDLE_VALUE) ::CloseHandle(LFile);  // else the sink's own open reports the failure
}

void KeepFromChildProcesses(std::FILE* AFile) {
  const HANDLE LHandle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(AFile)));
  if (LHandle != INVALID_HANDLE_VALUE) (void)::SetHandleInformation(LHandle, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace Orvane
