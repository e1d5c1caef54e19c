#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "OrvaneCore/Platform/NamedMutex.h"

namespace Orvane {
namespace {

// TryAcquire from a thread of its own, releasing again when it succeeded.
bool OtherThreadGets(TNamedMutex& AMutex) {
  bool LGot = false;
  std::thread([&] {
    if (AMutex.TryAcquire()) {
      LGot = true;
      AMutex.Release();
    }
  }).join();
  return LGot;
}

TEST(NamedMutexTest, SameNameInAnyCaseIsOneRecursiveMutex) {
  TNamedMutex LFirst("TScannerJobAction"), LSecond("tscannerJOBACTION"), LOtherName("TScannerJobAction2");
  LFirst.Acquire();
  LSecond.Acquire();  // recursive on this thread, through another object
  EXPECT_FALSE(OtherThreadGets(LSecond));
  EXPECT_FALSE(OtherThreadGets(LFirst));
  EXPECT_TRUE(OtherThreadGets(LOtherName));
  LFirst.Release();
  EXPECT_FALSE(OtherThreadGets(LSecond));  // still held once
  LSecond.Release();
  EXPECT_TRUE(OtherThreadGets(LFirst));
}

}  // namespace
}  // namespace Orvane
