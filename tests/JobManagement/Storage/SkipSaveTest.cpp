// A saver recognises a save of exactly what its last write put on disk and skips it; every way a
// persisted member of a saved job can change must make the next save write.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "FileJobListTestKit.h"
#include "JobServices/AgentTask/Dispatcher.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/RecordCopy.h"
#include "Support/ClockScope.h"

namespace Orvane::Testing {
namespace {

// Counts the documents it writes.
class TCountingSaver : public TFileJobListSaverNoPermissionsNoLogging {
public:
  using TFileJobListSaverNoPermissionsNoLogging::TFileJobListSaverNoPermissionsNoLogging;
  int Writes = 0;

protected:
  void AfterXmlSaved(const std::string&) override { ++Writes; }
};

// An agent task that does nothing, so that a real processor can run a job.
class TIdleTask : public IAgentTask {
public:
  bool Execute(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&) override {
    return true;
  }
  std::string GetAgentTaskId() override { return "{TASK-B}"; }
  bool ScanOnly(const std::string&, const std::shared_ptr<TScannerJobAction>&, const TContinueCheck&,
                const std::string&) override {
    return true;
  }
};

// A job with an action, an interval condition and its storage: every kind of owned record.
TJobPtr FullJob(const std::string& AIdentifier) {
  TJobPtr LJob = MakeManualJob(AIdentifier);
  auto LInterval = std::make_shared<TStartConditionInterval>();
  LInterval->SetIntervalValue(5);
  LJob->GetStartCondition()->AddCondition(LInterval);
  return LJob;
}

TStartConditionInterval& IntervalOf(const TJobPtr& AJob) {
  return static_cast<TStartConditionInterval&>(*AJob->GetStartCondition()->GetConditions()[0]);
}
TStartConditionStorage& StorageOf(const TJobPtr& AJob) { return *(*AJob->GetStartCondition()->GetStorages())[0]; }

// Runs AJob through a real agent-task processor.
void RunThroughProcessor(const TJobPtr& AJob) {
  TManualClockScope LClock;
  auto LDispatcher = std::make_shared<TAgentTaskDispatcher>(
      TClientId{"client-1"}, Lazy<IEnumerable<std::shared_ptr<IAgentTask>>>(
                                 [] {
                                   return IEnumerable<std::shared_ptr<IAgentTask>>::FromVector(
                                       {std::make_shared<TIdleTask>()});
                                 },
                                 [] { return "tasks"; }));
  auto LPool = std::make_shared<TAgentTaskJobProcessorPool>(
      [LDispatcher]() -> std::shared_ptr<IAgentTaskJobProcessor> {
        return std::make_shared<TAgentTaskJobProcessor>(LDispatcher);
      });
  IJobProcessor<>* LProcessor = LPool->RequestProcessor(AJob);
  ASSERT_NE(LProcessor, nullptr);
  LProcessor->SetJob(AJob);
  LProcessor->ProcessJob(AJob);
  LPool->WaitForJobs(30);
}

class SkipSaveTest : public TFileJobListFixture {
protected:
  void SetUp() override {
    TFileJobListFixture::SetUp();
    ASSERT_TRUE(ForceDirectories(StorageDir()));
    FSaver = std::make_unique<TCountingSaver>(QueueFile());
  }
  // Saves FJobs and tells whether a document was written.
  bool SaveWrites() {
    const int LBefore = FSaver->Writes;
    EXPECT_EQ(FSaver->SaveItems(Sequence(FJobs)), 0);
    return FSaver->Writes != LBefore;
  }

  TJobList FJobs{FullJob("A"), FullJob("B"), FullJob("C")};
  std::unique_ptr<TCountingSaver> FSaver;
};

TEST_F(SkipSaveTest, UnchangedJobsAreNotWrittenAgainButStillReportedSaved) {
  ASSERT_TRUE(SaveWrites());
  const std::string LContent = ReadFile(QueueFile());
  int LSavedItems = 0, LSaves = 0;
  FSaver->GetAfterSaveItem().Add([&](const TJobPtr&) { ++LSavedItems; });
  FSaver->GetAfterSave().Add([&](TOrvaneObject*) { ++LSaves; });
  EXPECT_FALSE(SaveWrites());
  EXPECT_FALSE(SaveWrites());
  // The events mean "these jobs are on disk", which stays true.
  EXPECT_EQ(LSavedItems, 6);
  EXPECT_EQ(LSaves, 2);
  EXPECT_EQ(ReadFile(QueueFile()), LContent);
}

TEST_F(SkipSaveTest, EveryWayOfChangingASavedJobMakesTheNextSaveWrite) {
  using TChange = std::function<void(const TJobPtr&)>;
  const std::vector<std::pair<const char*, TChange>> LCases = {
      // The job's own setters.
      {"Identifier", [](const TJobPtr& J) { J->SetIdentifier("X"); }},
      {"DisplayText", [](const TJobPtr& J) { J->SetDisplayText("X"); }},
      {"CanRunParallel", [](const TJobPtr& J) { J->SetCanRunParallel(false); }},
      {"IsManual", [](const TJobPtr& J) { J->SetIsManual(false); }},
      {"IsRegularJob", [](const TJobPtr& J) { J->SetIsRegularJob(false); }},
      {"Order", [](const TJobPtr& J) { J->SetOrder(9); }},
      {"QueueIndex", [](const TJobPtr& J) { J->SetQueueIndex(4); }},
      {"ItemKind", [](const TJobPtr& J) { J->SetItemKind(2); }},
      {"IsUserVisible", [](const TJobPtr& J) { J->SetIsUserVisible(false); }},
      {"NextExecution", [](const TJobPtr& J) { J->SetNextExecution(45000.5); }},
      {"ExecState", [](const TJobPtr& J) { J->SetExecState(TJobExecState::Queued); }},
      {"JobAction", [](const TJobPtr& J) { J->SetJobAction(std::make_shared<TScannerJobAction>()); }},
      // What the job owns.
      {"a condition added", [](const TJobPtr& J) {
         J->GetStartCondition()->AddCondition(std::make_shared<TStartConditionInterval>());
       }},
      {"IntervalValue", [](const TJobPtr& J) { IntervalOf(J).SetIntervalValue(6); }},
      {"IntervalUnit", [](const TJobPtr& J) { IntervalOf(J).SetIntervalUnit(TDelayUnit::duHours); }},
      {"MaxSplaySeconds", [](const TJobPtr& J) { IntervalOf(J).SetMaxSplaySeconds(30); }},
      {"CatchUp", [](const TJobPtr& J) { IntervalOf(J).SetCatchUp(false); }},
      {"StorageName", [](const TJobPtr& J) { IntervalOf(J).SetStorageName("S"); }},
      {"storage Name", [](const TJobPtr& J) { StorageOf(J).SetName("S"); }},
      {"LastRun", [](const TJobPtr& J) { StorageOf(J).SetLastRun(45000.5); }},
      {"LastDrop", [](const TJobPtr& J) { StorageOf(J).SetLastDrop(45000.5); }},
      {"SplaySeconds", [](const TJobPtr& J) { StorageOf(J).SetSplaySeconds(3); }},
      {"ReplaceSplaySeconds", [](const TJobPtr& J) { StorageOf(J).ReplaceSplaySeconds(-1, 3); }},
      {"Anchor", [](const TJobPtr& J) { StorageOf(J).SetAnchor(45000.5); }},
      {"ReplaceAnchor", [](const TJobPtr& J) { StorageOf(J).ReplaceAnchor(CNoDateTime, 45000.5); }},
      {"SkippedUntil", [](const TJobPtr& J) { StorageOf(J).SetSkippedUntil(45000.5); }},
      // Whole-record copies: Assign, a record copy into an owned record, a read from a node.
      {"Assign",
       [](const TJobPtr& J) {
         const TJobPtr LNewer = CloneAs(*J);
         LNewer->SetOrder(3);
         J->Assign(*LNewer);
       }},
      {"record copy into the action",
       [](const TJobPtr& J) {
         TScannerJobAction LOther;
         LOther.ExecutionId = "{E}";
         CopyRecordMembers(LOther, *J->GetJobAction());
       }},
      {"read from a node",
       [](const TJobPtr& J) {
         TDataNode LNode = RecordToNode(*J->GetStartCondition());
         NodeToRecord(LNode, *J->GetStartCondition());
       }},
      // The engine's writers: the scheduler's evaluation, a run's record, the processor.
      {"evaluation", [](const TJobPtr& J) { J->GetStartCondition()->CalcNextExecution(Now()); }},
      {"run recorded", [](const TJobPtr& J) { J->GetStartCondition()->SetAlreadyRunFlag(true); }},
      {"processor", [](const TJobPtr& J) { RunThroughProcessor(J); }},
  };
  for (const auto& [LName, LChange] : LCases) {
    SCOPED_TRACE(LName);
    FJobs = {FullJob("A"), FullJob("B"), FullJob("C")};
    ASSERT_TRUE(SaveWrites());
    ASSERT_FALSE(SaveWrites());
    LChange(FJobs[1]);
    EXPECT_TRUE(SaveWrites());
    EXPECT_FALSE(SaveWrites());
  }
}

TEST_F(SkipSaveTest, AnotherListOrAFileChangedBehindTheSaversBackIsWritten) {
  const TJobPtr LA = FJobs[0], LB = FJobs[1], LC = FJobs[2];
  const std::vector<std::pair<const char*, std::function<void()>>> LCases = {
      {"another order", [&] { FJobs = {LB, LA, LC}; }},
      {"a job removed", [&] { FJobs = {LA, LC}; }},
      {"a job added", [&] { FJobs = {LA, LB, LC, FullJob("D")}; }},
      {"an equal copy in a job's place", [&] { FJobs = {LA, CloneAs(*LB), LC}; }},
      {"the file removed", [&] { ASSERT_TRUE(std::filesystem::remove(QueueFile())); }},
      {"the file replaced", [&] {
         const std::string LContent = ReadFile(QueueFile());
         ASSERT_TRUE(std::filesystem::remove(QueueFile()));
         WriteFile(QueueFile(), LContent);
       }},
      {"the file's size changed", [&] { WriteFile(QueueFile(), ReadFile(QueueFile()) + " "); }},
      {"the file touched", [&] {
         std::filesystem::last_write_time(
             QueueFile(), std::filesystem::last_write_time(QueueFile()) - std::chrono::hours(24 * 365));
       }},
  };
  for (const auto& [LName, LChange] : LCases) {
    SCOPED_TRACE(LName);
    FJobs = {LA, LB, LC};
    SaveWrites();
    ASSERT_FALSE(SaveWrites());
    LChange();
    EXPECT_TRUE(SaveWrites());
  }
}

TEST_F(SkipSaveTest, AFailedWriteForgetsTheLastOne) {
  ASSERT_TRUE(SaveWrites());
  // A directory in the file's place makes the rename fail; the file is put back as it was.
  std::filesystem::rename(QueueFile(), QueueFile() + ".kept");
  ASSERT_TRUE(std::filesystem::create_directory(QueueFile()));
  EXPECT_NE(FSaver->SaveItems(Sequence({FJobs[0]})), 0);
  ASSERT_TRUE(std::filesystem::remove(QueueFile()));
  std::filesystem::rename(QueueFile() + ".kept", QueueFile());
  EXPECT_TRUE(SaveWrites()) << "the file holds the first write, but the saver no longer vouches for it";
}

}  // namespace
}  // namespace Orvane::Testing
