#include "OrvaneCore/Platform/ComInit.h"

#include <objbase.h>

namespace Orvane {

namespace {

// Whether this thread's CoInitialize succeeded, so that CoUninitialize undoes only what it did
// (a thread already in another apartment gets RPC_E_CHANGED_MODE and must not uninitialise).
thread_local int GComInitCount = 0;

}  // namespace

void CoInitialize() {
  if (SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) ++GComInitCount;
}

void CoUninitialize() {
  if (GComInitCount == 0) return;
  --GComInitCount;
  ::CoUninitialize();
}

}  // namespace Orvane
