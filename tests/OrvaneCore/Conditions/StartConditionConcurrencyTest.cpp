#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ConditionTestKit.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "Support/RunConcurrently.h"

namespace Orvane {
namespace {

using namespace Testing;

using TStartConditionConcurrencyTest = TConditionTest;

// A main-loop pass and a waiting pass may evaluate the same job at once, while a finished job's
// thread records a run of another: they keep one splay and one anchor per storage, and answer alike.
TEST_F(TStartConditionConcurrencyTest, ConcurrentPassesKeepOneSplayAndOneAnchor) {
  constexpr int CJobs = 50;
  std::vector<std::unique_ptr<TStartConditionFacade>> LFacades;
  for (int I = 0; I < CJobs; ++I) {
    auto& LFacade = LFacades.emplace_back(std::make_unique<TStartConditionFacade>());
    auto LDaily = std::make_shared<TStartConditionDaily>();
    LDaily->SetTimeOfDay(0, 0);
    LDaily->SetMaxSplaySeconds(36000);
    auto LInterval = std::make_shared<TStartConditionInterval>();
    LInterval->SetIntervalValue(10);
    LInterval->SetMaxSplaySeconds(600);
    LFacade->AddCondition(LDaily);
    LFacade->AddCondition(LInterval);
    LFacade->SetSystemRunInfo(FRunInfo);
    // Both are due since a moment their splay decides, which none has drawn yet.
    LFacade->StorageFor(*LDaily)->SetLastRun(Utc(2026, 1, 4, 0, 0));
    LFacade->StorageFor(*LInterval)->SetAnchor(Utc(2026, 1, 5, 10, 0));
  }
  const TDateTime LNow = Local(2026, 1, 5, 12, 0);
  constexpr int CPasses = 4;
  std::vector<std::vector<TDateTime>> LAnswers(CPasses, std::vector<TDateTime>(CJobs));
  std::vector<std::function<void()>> LBodies;
  for (int LPass = 0; LPass < CPasses; ++LPass)
    LBodies.push_back([&, LPass] {
      for (int I = 0; I < CJobs; ++I) LAnswers[LPass][I] = LFacades[I]->CalcNextExecution(LNow);
    });
  LBodies.push_back([&] {
    for (int I = CJobs - 1; I >= 0; I -= 7) (*LFacades[I]->GetStorages())[0]->SetLastDrop(LocalToUtc(LNow));
  });
  RunConcurrently(LBodies);

  for (int I = 0; I < CJobs; ++I) {
    ASSERT_NE(LAnswers[0][I], CNoDateTime);
    for (int LPass = 1; LPass < CPasses; ++LPass)
      EXPECT_AT(LAnswers[LPass][I], LAnswers[0][I]) << "job " << I;
    // What the storages kept gives the same answer again.
    EXPECT_AT(LFacades[I]->CalcNextExecution(LNow), LAnswers[0][I]) << "job " << I;
  }
}

}  // namespace
}  // namespace Orvane
