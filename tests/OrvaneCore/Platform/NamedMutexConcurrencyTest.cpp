#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "OrvaneCore/Platform/NamedMutex.h"

namespace Orvane {
namespace {

// Threads that each make and drop their own objects of one name (in different cases) still
// exclude each other; the plain counter turns any gap into a TSan report and a lost increment.
TEST(NamedMutexConcurrencyTest, ObjectsMadeOnManyThreadsShareTheLock) {
  constexpr int CThreads = 4;
  constexpr int CRounds = 2000;
  const std::size_t LBefore = TNamedMutex::RegisteredNameCountForTesting();
  const std::string LNames[] = {"SharedCounter", "sharedcounter", "SHAREDCOUNTER", "sHaReDcOuNtEr"};
  int LCounter = 0;
  std::vector<std::thread> LThreads;
  for (int LIndex = 0; LIndex < CThreads; ++LIndex) {
    LThreads.emplace_back([&, LIndex] {
      for (int LRound = 0; LRound < CRounds; ++LRound) {
        TNamedMutex LMutex(LNames[LIndex]);
        TNamedMutexLock LLock(LMutex);
        ++LCounter;
      }
    });
  }
  for (std::thread& LThread : LThreads) LThread.join();
  EXPECT_EQ(LCounter, CThreads * CRounds);
  EXPECT_EQ(TNamedMutex::RegisteredNameCountForTesting(), LBefore);
}

}  // namespace
}  // namespace Orvane
