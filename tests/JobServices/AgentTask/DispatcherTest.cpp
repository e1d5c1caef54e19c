#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "JobServices/AgentTask/Dispatcher.h"
#include "OrvaneCore/Container/ContainerTypes.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/LogCapture.h"
#include "Support/TaskMocks.h"

namespace Orvane {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::ElementsAre;
using ::testing::Eq;
using ::testing::Invoke;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::StrictMock;
using ::testing::Throw;

const std::string CTaskA = "{B3A5474A-E933-4CC0-8567-C80F6591AC19}";
const std::string CTaskB = "{072BE601-5372-4618-9A6D-2571D230278E}";
const std::string CUnknownTask = "{00000000-0000-0000-0000-000000000001}";

std::shared_ptr<TScannerJobAction> ActionFor(const std::string& AId) {
  auto LAction = std::make_shared<TScannerJobAction>();
  LAction->AgentTaskId = AId;
  return LAction;
}

// A task that answers to AId and fails the test on any call the test did not expect.
std::shared_ptr<StrictMock<Testing::MockAgentTask>> MakeTask(const std::string& AId) {
  auto LTask = std::make_shared<StrictMock<Testing::MockAgentTask>>();
  EXPECT_CALL(*LTask, GetAgentTaskId()).WillRepeatedly(Return(AId));
  return LTask;
}

class DispatcherTest : public ::testing::Test {
protected:
  void SetUp() override {
    FTasks.Add(FTaskA);
    FTasks.Add(FTaskB);
  }

  std::vector<std::string> Messages() const { return FLog->Texts(TLogEntryKind::Message); }

  Testing::TLogCapture FLog;
  std::shared_ptr<StrictMock<Testing::MockAgentTask>> FTaskA = MakeTask(CTaskA);
  std::shared_ptr<StrictMock<Testing::MockAgentTask>> FTaskB = MakeTask(CTaskB);
  Testing::TCountingTaskSequence FTasks;
  TAgentTaskDispatcher FDispatcher{TClientId{"client-7"}, FTasks.AsLazy()};
};

TEST_F(DispatcherTest, UnknownOrEmptyIdIsLoggedAndRunsNothing) {
  const auto LAlwaysGoOn = [] { return true; };
  EXPECT_FALSE(FDispatcher.StartScanner(ActionFor(""), LAlwaysGoOn));
  EXPECT_FALSE(FDispatcher.StartScanner(ActionFor(CUnknownTask), LAlwaysGoOn));
  EXPECT_FALSE(FDispatcher.ScanOnly("", ActionFor(CTaskA), "/tmp/out"));
  EXPECT_FALSE(FDispatcher.ScanOnly(CUnknownTask, ActionFor(CTaskA), "/tmp/out"));

  EXPECT_THAT(
      Messages(),
      ElementsAre("No agent task found with id: []", "No agent task found with id: [" + CUnknownTask + "]",
                  "No agent task found with id: []", "No agent task found with id: [" + CUnknownTask + "]"));
  // An empty id is not searched for; an unknown one is searched for again each time.
  EXPECT_EQ(FTasks.Walks(), 2);
}

TEST_F(DispatcherTest, IdDifferingOnlyInLetterCaseFindsNothing) {
  const std::string LLowerCase = "{b3a5474a-e933-4cc0-8567-c80f6591ac19}";
  EXPECT_FALSE(FDispatcher.StartScanner(ActionFor(LLowerCase), [] { return true; }));
  EXPECT_THAT(Messages(), ElementsAre("No agent task found with id: [" + LLowerCase + "]"));

  // The exact id still finds the task afterwards: the miss left nothing behind.
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }));
}

TEST_F(DispatcherTest, FirstSuccessfulLookupWalksTheTasksAndLaterLookupsOfTheIdDoNot) {
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).Times(3).WillRepeatedly(Return(true));
  EXPECT_CALL(*FTaskA, ScanOnly(_, _, _, _)).WillOnce(Return(true));
  EXPECT_EQ(FTasks.Walks(), 0);  // the sequence is not even resolved before the first lookup

  for (int LRun = 0; LRun < 3; ++LRun)
    EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }));
  EXPECT_TRUE(FDispatcher.ScanOnly(CTaskA, ActionFor(CTaskA), "/tmp/out"));
  EXPECT_EQ(FTasks.Walks(), 1);

  // Another id gets one walk of its own.
  EXPECT_CALL(*FTaskB, Execute(_, _, _)).Times(2).WillRepeatedly(Return(false));
  EXPECT_FALSE(FDispatcher.StartScanner(ActionFor(CTaskB), [] { return true; }));
  EXPECT_FALSE(FDispatcher.StartScanner(ActionFor(CTaskB), [] { return true; }));
  EXPECT_EQ(FTasks.Walks(), 2);
}

TEST_F(DispatcherTest, FirstRegisteredTaskOfAnIdWinsAndTheWalkStopsThere) {
  // Registered after A with the same id: never asked for its id, never run.
  auto LShadowed = std::make_shared<StrictMock<Testing::MockAgentTask>>();
  ON_CALL(*LShadowed, GetAgentTaskId()).WillByDefault(Return(CTaskA));
  EXPECT_CALL(*LShadowed, GetAgentTaskId()).Times(0);
  FTasks.Add(LShadowed);
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }));
}

TEST_F(DispatcherTest, TaskRegisteredAfterAMissIsFoundByTheNextLookup) {
  const std::string LLateId = "{618CA3BE-5F82-4C99-AB31-254E81096110}";
  EXPECT_FALSE(FDispatcher.StartScanner(ActionFor(LLateId), [] { return true; }));

  auto LLate = MakeTask(LLateId);
  FTasks.Add(LLate);
  EXPECT_CALL(*LLate, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(LLateId), [] { return true; }));
}

TEST_F(DispatcherTest, StartScannerPassesTheClientIdTheActionAndTheCallersContinuation) {
  const auto LAction = ActionFor(CTaskA);
  TContinueCheck LPassed;
  EXPECT_CALL(*FTaskA, Execute(Eq("client-7"), Eq(LAction), _))
      .WillOnce(DoAll(SaveArg<2>(&LPassed), Return(true)));

  bool LCallerSaysGoOn = true;
  EXPECT_TRUE(FDispatcher.StartScanner(LAction, [&LCallerSaysGoOn] { return LCallerSaysGoOn; }));
  ASSERT_TRUE(LPassed);
  EXPECT_TRUE(LPassed());
  LCallerSaysGoOn = false;
  EXPECT_FALSE(LPassed());
}

TEST_F(DispatcherTest, ScanOnlyPassesAnEmptyClientIdAndAContinuationThatAlwaysGoesOn) {
  // The action names another task: ScanOnly goes by the id it is given.
  const auto LAction = ActionFor(CTaskB);
  TContinueCheck LPassed;
  EXPECT_CALL(*FTaskA, ScanOnly(Eq(""), Eq(LAction), _, Eq("/var/tmp/scan")))
      .WillOnce(DoAll(SaveArg<2>(&LPassed), Return(true)));

  EXPECT_TRUE(FDispatcher.ScanOnly(CTaskA, LAction, "/var/tmp/scan"));
  ASSERT_TRUE(LPassed);
  EXPECT_TRUE(LPassed());
}

TEST_F(DispatcherTest, StartScannerWithAJobRunsTheTaskOfItsScannerAction) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier("job-1");
  const auto LAction = ActionFor(CTaskB);
  LJob->SetJobAction(LAction);
  EXPECT_CALL(*FTaskB, Execute(Eq("client-7"), Eq(LAction), _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(LJob, [] { return true; }));

  // A job that cannot name a task is refused loudly; the job processor logs it as the job's failure.
  EXPECT_THROW(FDispatcher.StartScanner(TJobPtr(), [] { return true; }), EInvalidPointer);
  LJob->SetJobAction(nullptr);
  EXPECT_THROW(FDispatcher.StartScanner(LJob, [] { return true; }), EArgumentException);
  LJob->SetJobAction(std::make_shared<TJobAction>());
  EXPECT_THROW(FDispatcher.StartScanner(LJob, [] { return true; }), EArgumentException);
  EXPECT_THROW(FDispatcher.StartScanner(std::shared_ptr<TScannerJobAction>(), [] { return true; }),
               EInvalidPointer);
}

TEST_F(DispatcherTest, FailuresOfTheTaskOrOfTheWalkReachTheCaller) {
  // The first walk fails (a registration that cannot be built): nothing is cached.
  bool LFailWalk = true;
  FTasks.SetOnWalk([&LFailWalk] {
    if (LFailWalk) throw EContainerError("TBrokenScanner cannot be built");
  });
  EXPECT_THROW(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }), EContainerError);

  LFailWalk = false;
  EXPECT_CALL(*FTaskA, Execute(_, _, _))
      .WillOnce(Throw(std::runtime_error("scan failed")))
      .WillOnce(Return(true));
  EXPECT_THROW(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }), std::runtime_error);
  // The task that raised stays the task of its id.
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }));
  EXPECT_EQ(FTasks.Walks(), 2);
}

TEST_F(DispatcherTest, TaskLookingItselfUpWhileTheWalkBuildsItRaisesInsteadOfRecursing) {
  // A walk builds the registered tasks; here the building looks up the very id being walked for.
  bool LLookUpWhileBuilding = true;
  FTasks.SetOnWalk([this, &LLookUpWhileBuilding] {
    if (LLookUpWhileBuilding) FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; });
  });
  EXPECT_THROW(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }), EContainerError);

  LLookUpWhileBuilding = false;
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }));
}

TEST_F(DispatcherTest, TaskMayStartAnotherTaskThroughTheDispatcherWhileItRuns) {
  // Neither the cache's lock nor the search is held while a task runs.
  EXPECT_CALL(*FTaskA, Execute(_, _, _)).WillOnce(Invoke([this](auto&&...) {
    return FDispatcher.StartScanner(ActionFor(CTaskB), [] { return true; });
  }));
  EXPECT_CALL(*FTaskB, Execute(_, _, _)).WillOnce(Return(true));
  EXPECT_TRUE(FDispatcher.StartScanner(ActionFor(CTaskA), [] { return true; }));
}

}  // namespace
}  // namespace Orvane
