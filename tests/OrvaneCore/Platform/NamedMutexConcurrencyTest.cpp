#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "OrvaneCore/Platform/NamedMutex.h"
#include "Support/RunConcurrently.h"

namespace Orvane {
namespace {

// Threads that each make and drop their own objects of one name (in different cases) still
// exclude each other, and each may take it again while it holds it; the plain counter turns any gap into a TSan report and a lost increment.
TEST(NamedMutexConcurrencyTest, ObjectsMadeOnManyThreadsShareTheLock) {
  constexpr int CRounds = 2000;
  const std::size_t LBefore = TNamedMutex::RegisteredNameCountForTesting();
  const std::string LNames[] = {"SharedCounter", "sharedcounter", "SHAREDCOUNTER", "sHaReDcOuNtEr"};
  int LCounter = 0;
  std::vector<std::function<void()>> LBodies;
  for (const std::string& LName : LNames)
    LBodies.push_back([&] {
      for (int LRound = 0; LRound < CRounds; ++LRound) {
        TNamedMutex LMutex(LName);
        TNamedMutexLock LLock(LMutex);
        TNamedMutex LSame(LName);
        TNamedMutexLock LAgain(LSame);  // recursive on its own thread, through another object
        ++LCounter;
      }
    });
  Testing::RunConcurrently(LBodies);
  EXPECT_EQ(LCounter, 4 * CRounds);
  EXPECT_EQ(TNamedMutex::RegisteredNameCountForTesting(), LBefore);
}

}  // namespace
}  // namespace Orvane
