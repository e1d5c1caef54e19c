#include "OrvaneCore/Jobs/Job.h"

#include <gtest/gtest.h>

#include "OrvaneCore/Data/DataNode.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

using Testing::FixedCondition;

// A job with every member set away from its default, an action with data and three conditions.
TJobPtr FullJob() {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("{11111111-2222-3333-4444-555555555555}");
  LJob->SetDisplayText("File Scanner");
  LJob->SetCanRunParallel(false);
  LJob->SetIsManual(true);
  LJob->SetIsRegularJob(false);
  LJob->SetOrder(7);
  LJob->SetQueueIndex(3);
  LJob->SetNextExecution(46000.123456789012);
  LJob->SetIsUserVisible(false);
  LJob->SetExecState(TJobExecState::Queued);
  LJob->SetItemKind(CAgentTaskItemKind);
  auto LAction = std::make_shared<TFileScannerJobAction>();
  LAction->AgentTaskId = "{F21E8F93-BA40-41E7-A9FB-A0771FA3480B}";
  LAction->ExecutionId = "{EXEC}";
  LAction->IsPredefined = false;
  LAction->Paths = {"/etc", "/var/log/syslog"};
  LJob->SetJobAction(LAction);
  auto LDelay = std::make_shared<TStartConditionOnDelay>();
  LDelay->SetDelayValue(5);
  LJob->GetStartCondition()->AddCondition(LDelay);
  LJob->GetStartCondition()->AddCondition(FixedCondition(45000.5, ckShutdown));
  LJob->GetStartCondition()->AddCondition(FixedCondition(CNoDateTime, ckDaily));
  LJob->GetStartCondition()->GetStorages()->front()->SetLastRun(45999.25);
  return LJob;
}

TEST(JobTest, CloneIsAnIndependentDeepCopyOfTheSameClasses) {
  const TJobPtr LJob = FullJob();
  const auto LCopy = CloneAs(*LJob);
  ASSERT_NE(LCopy, nullptr);
  EXPECT_TRUE(LCopy->DataEquals(*LJob));
  EXPECT_EQ(RecordToNode(*LCopy), RecordToNode(*LJob));
  const auto LAction = std::static_pointer_cast<TFileScannerJobAction>(LCopy->GetJobAction());
  EXPECT_EQ(LAction->ClassName(), "TFileScannerJobAction");
  EXPECT_NE(LAction, LJob->GetJobAction());
  ASSERT_EQ(LCopy->GetStartCondition()->GetConditions().size(), 3u);
  EXPECT_EQ(LCopy->GetStartCondition()->GetConditions()[0]->ClassName(), "TStartConditionOnDelay");
  EXPECT_NE(LCopy->GetStartCondition()->GetConditions()[0], LJob->GetStartCondition()->GetConditions()[0]);
  EXPECT_NE(LCopy->GetStartCondition()->GetStorages(), LJob->GetStartCondition()->GetStorages());

  // Changing the copy leaves the original alone.
  LAction->Paths.push_back("/home");
  LCopy->GetStartCondition()->GetStorages()->front()->SetLastRun(1.0);
  LCopy->SetNextExecution(CNoDateTime);
  EXPECT_EQ(std::static_pointer_cast<TFileScannerJobAction>(LJob->GetJobAction())->Paths.size(), 2u);
  EXPECT_EQ(LJob->GetStartCondition()->GetStorages()->front()->GetLastRun(), 45999.25);
  EXPECT_EQ(LJob->GetNextExecution(), 46000.123456789012);
}

TEST(JobTest, AssignCopiesTheDefinitionAndKeepsTheTargetsStoragesByName) {
  const TJobPtr LSource = FullJob();
  auto LTarget = std::make_shared<TJob>();
  LTarget->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnDelay>());
  const TStorageListPtr LLiveList = LTarget->GetStartCondition()->GetStorages();
  const TStartConditionStoragePtr LLiveStorage = LLiveList->front();
  LLiveStorage->SetLastRun(12345.0);
  auto LRunInfo = std::make_shared<TSystemRunInfo>();
  LSource->SetSystemRunInfo(LRunInfo);

  LTarget->Assign(*LSource);
  EXPECT_EQ(LTarget->GetIdentifier(), LSource->GetIdentifier());
  EXPECT_EQ(LTarget->GetExecState(), TJobExecState::Queued);
  EXPECT_EQ(LTarget->GetJobAction()->ClassName(), "TFileScannerJobAction");
  EXPECT_EQ(LTarget->GetStartCondition()->GetConditions().size(), 3u);
  EXPECT_EQ(LTarget->GetSystemRunInfo(), LRunInfo);
  // The schedule survives: the same list object and the same storage object under the same name.
  EXPECT_EQ(LTarget->GetStartCondition()->GetStorages(), LLiveList);
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
