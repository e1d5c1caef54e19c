#include "OrvaneCore/Jobs/SystemRunInfo.h"

namespace Orvane {

std::string TSystemRunInfo::LogText() const {
  auto LFlag = [](bool AValue) { return AValue ? "true" : "false"; };
  return std::string("IsStartupPass=") + LFlag(GetIsStartupPass()) + " IsShutdownPass=" + LFlag(GetIsShutdownPass()) +
         " IsStopping=" + LFlag(GetIsStopping());
}

}  // namespace Orvane
