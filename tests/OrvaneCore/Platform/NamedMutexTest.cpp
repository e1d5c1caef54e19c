#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "OrvaneCore/Platform/NamedMutex.h"

namespace Orvane {
namespace {

// TryAcquire from a thread of its own, releasing again when it succeeded.
bool OtherThreadGets(TNamedMutex& AMutex) {
  bool LGot = false;
  std::thread LOther([&] {
    if (AMutex.TryAcquire()) {
      LGot = true;
      AMutex.Release();
    }
  });
  LOther.join();
  return LGot;
}

TEST(NamedMutexTest, SameNameInAnyCaseIsOneRecursiveMutex) {
  TNamedMutex LFirst("TScannerJobAction");
  TNamedMutex LSecond("tscannerJOBACTION");
  TNamedMutex LOtherName("TScannerJobAction2");

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

TEST(NamedMutexTest, RegistryEntryLivesWhileAnObjectOfTheNameDoes) {
  const std::size_t LBefore = TNamedMutex::RegisteredNameCountForTesting();
  std::optional<TNamedMutex> LFirst(std::in_place, "RegistryLifetime");
  std::optional<TNamedMutex> LSecond(std::in_place, "REGISTRYLIFETIME");
  EXPECT_EQ(TNamedMutex::RegisteredNameCountForTesting(), LBefore + 1);

  LSecond->Acquire();
  LFirst.reset();  // dropping another object of the name leaves the held lock alone
  EXPECT_EQ(TNamedMutex::RegisteredNameCountForTesting(), LBefore + 1);
  EXPECT_FALSE(OtherThreadGets(*LSecond));
  LSecond->Release();

  LSecond.reset();
  EXPECT_EQ(TNamedMutex::RegisteredNameCountForTesting(), LBefore);

  // A fresh object of the name after that starts unlocked.
  TNamedMutex LThird("RegistryLifetime");
  EXPECT_TRUE(OtherThreadGets(LThird));
}

}  // namespace
}  // namespace Orvane
