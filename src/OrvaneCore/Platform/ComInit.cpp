#include "OrvaneCore/Platform/ComInit.h"

namespace Orvane {

// Linux has no per-thread component runtime.
void CoInitialize() {}
void CoUninitialize() {}

}  // namespace Orvane
