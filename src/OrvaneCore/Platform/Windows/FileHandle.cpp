#include "OrvaneCore/Platform/FileHandle.h"

#include <cerrno>
#include <utility>

#include "OrvaneCore/Platform/Windows/WindowsApi.h"

namespace Orvane {

void TFileHandle::Reset(TNativeFile AFd) {
  if (IsOpen()) ::CloseHandle(FFd);
  FFd = AFd;
}

int TFileHandle::Close() {
  if (!IsOpen()) return 0;
  const BOOL LClosed = ::CloseHandle(std::exchange(FFd, NoNativeFile()));
  if (LClosed) return 0;
  errno = ErrnoFromWindowsError(::GetLastError());
  return -1;
}

}  // namespace Orvane
