#include "OrvaneCore/Jobs/Job.h"

#include <gtest/gtest.h>

#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using Testing::FixedCondition;

TEST(JobTest, AssignCopiesTheDefinitionAndKeepsTheTargetsStoragesByName) {
  TJob LSource;
  LSource.SetIdentifier("{11111111-2222-3333-4444-555555555555}");
  LSource.SetExecState(TJobExecState::Queued);
  LSource.SetJobAction(std::make_shared<TFileScannerJobAction>());
  LSource.GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnDelay>());
  LSource.GetStartCondition()->AddCondition(FixedCondition(45000.5, ckShutdown));
  LSource.GetStartCondition()->AddCondition(FixedCondition(CNoDateTime, ckDaily));
  LSource.GetStartCondition()->GetStorages()->front()->SetLastRun(45999.25);
  auto LRunInfo = std::make_shared<TSystemRunInfo>();
  LSource.SetSystemRunInfo(LRunInfo);
  TJob LTarget;
  LTarget.GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnDelay>());
  const TStorageListPtr LLiveList = LTarget.GetStartCondition()->GetStorages();
  const TStartConditionStoragePtr LLiveStorage = LLiveList->front();
  LLiveStorage->SetLastRun(12345.0);

  LTarget.Assign(LSource);
  EXPECT_EQ(LTarget.GetIdentifier(), LSource.GetIdentifier());
  EXPECT_EQ(LTarget.GetExecState(), TJobExecState::Queued);
  EXPECT_EQ(LTarget.GetJobAction()->ClassName(), "TFileScannerJobAction");
  EXPECT_NE(LTarget.GetJobAction(), LSource.GetJobAction());
  EXPECT_EQ(LTarget.GetStartCondition()->GetConditions().size(), 3u);
  EXPECT_EQ(LTarget.GetSystemRunInfo(), LRunInfo);
  // The schedule survives: the same list object and the same storage object under the same name.
  EXPECT_EQ(LTarget.GetStartCondition()->GetStorages(), LLiveList);
  EXPECT_EQ(LLiveList->front(), LLiveStorage);
  EXPECT_EQ(LLiveStorage->GetLastRun(), 12345.0);
  EXPECT_EQ(LLiveList->size(), 3u);
}

TEST(JobTest, JobEqualityIgnoresLetterCaseOfIdentifiersAndDataEqualityDoesNot) {
  TJob LA, LB;
  LA.SetIdentifier("{abcdef01-0000-0000-0000-000000000000}");
  LB.SetIdentifier("{ABCDEF01-0000-0000-0000-000000000000}");
  EXPECT_TRUE(LA.Equals(LB));
  EXPECT_FALSE(LA.DataEquals(LB));
  LB.SetIdentifier("{ABCDEF02-0000-0000-0000-000000000000}");
  EXPECT_FALSE(LA.Equals(LB));
}

}  // namespace
}  // namespace Orvane
