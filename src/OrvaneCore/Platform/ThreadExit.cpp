#include "OrvaneCore/Platform/ThreadExit.h"

#include <utility>
#include <vector>

namespace Orvane {

namespace {

// glibc destroys thread_local objects correctly, after the thread's function has returned.
struct TExitCalls {
  std::vector<std::pair<void (*)(void*), void*>> Calls;
  ~TExitCalls() {
    while (!Calls.empty()) {
      const auto [LDestroy, LObject] = Calls.back();
      Calls.pop_back();
      LDestroy(LObject);
    }
  }
};
thread_local TExitCalls tExitCalls;

}  // namespace

void AtThreadExit(void (*ADestroy)(void*), void* AObject) {
  tExitCalls.Calls.emplace_back(ADestroy, AObject);
}

}  // namespace Orvane
