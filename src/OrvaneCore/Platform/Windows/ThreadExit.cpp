#include "OrvaneCore/Platform/ThreadExit.h"

#include <windows.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace Orvane {

namespace {

using TExitCalls = std::vector<std::pair<void (*)(void*), void*>>;

// A fiber-local slot's callback runs as every thread ends, whoever started the thread, and it is
// handed the slot's value: it reads nothing from the toolchain's thread-local storage, which may
// already be gone by then.
void WINAPI RunExitCalls(void* AValue) {
  auto* LCalls = static_cast<TExitCalls*>(AValue);
  if (!LCalls) return;
  while (!LCalls->empty()) {
    const auto [LDestroy, LObject] = LCalls->back();
    LCalls->pop_back();
    LDestroy(LObject);
  }
  delete LCalls;
}

DWORD ExitCallsSlot() {
  static const DWORD CSlot = [] {
    const DWORD LSlot = ::FlsAlloc(&RunExitCalls);
    if (LSlot == FLS_OUT_OF_INDEXES) throw std::runtime_error("FlsAlloc: no fiber-local slot left");
    return LSlot;
  }();
  return CSlot;
}

}  // namespace

void AtThreadExit(void (*ADestroy)(void*), void* AObject) {
  const DWORD LSlot = ExitCallsSlot();
  auto* LCalls = static_cast<TExitCalls*>(::FlsGetValue(LSlot));
  if (!LCalls) {
    LCalls = new TExitCalls();
    if (!::FlsSetValue(LSlot, LCalls)) {
      delete LCalls;
      throw std::runtime_error("FlsSetValue failed");
    }
  }
  LCalls->emplace_back(ADestroy, AObject);
}

}  // namespace Orvane
