#include "OrvaneCore/Platform/FileHandle.h"

#include <unistd.h>

namespace Orvane {

void TFileHandle::Reset(TNativeFile AFd) {
  if (FFd >= 0) ::close(FFd);
  FFd = AFd;
}

int TFileHandle::Close() {
  const int LResult = FFd >= 0 ? ::close(FFd) : 0;
  FFd = -1;
  return LResult;
}

}  // namespace Orvane
