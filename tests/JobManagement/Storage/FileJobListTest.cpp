#include <gmock/gmock.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>

#include "../../../fuzz/ManualJobFileCheck.h"
#include "FileJobListTestKit.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/RecordCopy.h"
#include "Support/ClockScope.h"
#include "Support/EngineMocks.h"
#include "Support/HostMocks.h"

namespace Orvane::Testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

using FileJobListSaverTest = TFileJobListFixture;
using TQueueSaver = TFileJobListSaverForQueue<TScannerJobAction>;

// The first save makes the storage directory owner-only. The plug-in beside the test binary opens
// the file to everybody, after every save, also one that leaves an unchanged file alone.
TEST_F(FileJobListSaverTest, EachSaverClassSetsPermissionsAsItsClassSays) {
  const struct {
    const char* Name;
    std::function<std::shared_ptr<IItemSaver<TJob>>()> Create;
    bool OpensToEverybody;
  } LCases[] = {
      {"FileJobListSaver", [&] { return std::make_shared<TFileJobListSaver<>>(QueueFile()); }, true},
      {"NoPermissions", [&] { return std::make_shared<TFileJobListSaverNoPermissions>(QueueFile()); }, false},
      {"RegisteredForQueue", [&] { return std::make_shared<TQueueSaver>(FPathProvider); }, false}};
  for (const auto& LCase : LCases) {
    SCOPED_TRACE(LCase.Name);
    std::filesystem::remove_all(FData.Path() + "/Orvane");
    const auto LSaver = LCase.Create();
    EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a"), MakeManualJob("b")})), 0);
#ifndef _WIN32
    EXPECT_EQ(ModeOf(StorageDir()), 0700u);
    chmod(QueueFile().c_str(), 0600);
#endif
    EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a"), MakeManualJob("b")})), 0);
#ifndef _WIN32
    EXPECT_EQ(ModeOf(QueueFile()), LCase.OpensToEverybody ? 0666u : 0600u);
#endif
    EXPECT_THAT(Identifiers(LoadJobs(QueueFile())), ElementsAre("a", "b"));
    EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
  }
}

// A failed write answers with the errno of the call that failed and raises no event, so that the
// owner can tell its caller that nothing was saved.
TEST_F(FileJobListSaverTest, FailedWriteIsLoggedWithTheSaverContextAndAnsweredWithItsErrno) {
  // The storage directory cannot be made: a file stands where its parent should be.
  WriteFile(FData.Path() + "/Orvane", "not a directory");
  const auto LSaver = std::make_shared<TQueueSaver>(FPathProvider);
  int LEvents = 0;
  LSaver->GetAfterSave().Add([&](TOrvaneObject*) { ++LEvents; });
  EXPECT_EQ(LSaver->SaveItems(Sequence({MakeManualJob("a")})), ENOTDIR);

  const TLogEntry LEntry = FLog->Entries().at(FLog->IndexOf(TLogEntryKind::Exception));
  EXPECT_EQ(LEntry.ExceptionClass + " " + LEntry.Value,
            "EOSError TFileJobListSaverForQueue<TScannerJobAction>.InternalSaveItems");
  EXPECT_THAT(LEntry.Text, HasSubstr(StorageDir()));
  EXPECT_EQ(LSaver->SaveItem(MakeManualJob("a")), ENOTDIR);
  EXPECT_EQ(LEvents, 0);
}

// In a data directory whose path goes beyond ASCII: what is saved and loaded here crosses every
// file call as UTF-8 (UTF-16 on Windows).
class FileJobListProviderTest : public TFileJobListFixture {
protected:
  FileJobListProviderTest() : TFileJobListFixture("orvane-storage-Auftr\xC3\xA4ge-\xE6\x96\x87") {}
  void SetUp() override {
    TFileJobListFixture::SetUp();
    ASSERT_TRUE(ForceDirectories(StorageDir()));
  }
  // Loads of a file that leaves out a delay condition's creation moment agree only while the clock
  // stands still.
  TManualClockScope FClock;
};

// Both manual-job files through their owners across a restart: a queued manual job comes back into
// the queue (a run cut short by a kill), a held one into the job list, in their order.
TEST_F(FileJobListProviderTest, ManualJobsOfTheQueueAndOfTheJobListProviderSurviveARestart) {
  const auto NewJobListProvider = [&] {
    return std::make_shared<TCustomJobListProvider<TScannerJobAction>>(
        nullptr, std::make_shared<TRecordingStorageManager>(),
        std::make_shared<TFileJobListSaverForJobList<TScannerJobAction>>(FPathProvider),
        std::make_shared<TFileJobListProviderForJobList<TScannerJobAction>>(FPathProvider));
  };
  {
    TJobQueue<TScannerJobAction> LQueue(
        std::make_shared<TQueueSaver>(FPathProvider),
        std::make_shared<TFileJobListProviderForQueue<TScannerJobAction>>(FPathProvider));
    LQueue.LoadQueuedManualJobs();
    for (const TJobPtr& LJob :
         {MakeManualJob("b", 2), MakeManualJob("a", 1), NewJob("scheduled", {.Task = "{S}"})})
      EXPECT_TRUE(LQueue.EnqueueJob(LJob));
    const auto LProvider = NewJobListProvider();
    LProvider->LoadQueuedManualJobs();
    EXPECT_EQ(LProvider->AddManualJob(MakeManualJob("second", 2)), 0);
    LProvider->AddManualJob(MakeManualJob("first", 1));
  }
  const auto LQueue = BuildJobQueue(QueueFile(), &NewFileJobListSaver<TFileJobListSaverNoPermissions>);
  LQueue->LoadQueuedManualJobs();
  EXPECT_THAT(Identifiers(LQueue->CreateSnapshot()), ::testing::UnorderedElementsAre("a", "b"));
  const auto LProvider = NewJobListProvider();
  LProvider->LoadQueuedManualJobs();
  EXPECT_THAT(Identifiers(LProvider->CreateSnapshot().ManualJobs), ElementsAre("first", "second"));
}

// Every file of the manual-job fuzzer's corpus, through both loaders, with the fuzzer's checks. The
// file names say what to expect besides: "valid-" files load (those named "skip" skipping items, with
// errors), "bad-" files cannot be read at all and yield nothing; other files (inputs the fuzzer found)
// only have to pass the checks.
using FileJobListCorpusTest = FileJobListProviderTest;

TEST_F(FileJobListCorpusTest, EveryCorpusFileLoadsThroughBothLoadersAndSavesBackUnchanged) {
  std::vector<std::filesystem::path> LFiles;
  for (const auto& LEntry : std::filesystem::directory_iterator(ORVANE_MANUAL_JOB_CORPUS_DIR))
    if (LEntry.is_regular_file()) LFiles.push_back(LEntry.path());
  std::sort(LFiles.begin(), LFiles.end());
  ASSERT_GE(LFiles.size(), 10u) << "the corpus lies in " << ORVANE_MANUAL_JOB_CORPUS_DIR;
  for (const std::filesystem::path& LFile : LFiles) {
    const std::string LName = LFile.filename().string();
    SCOPED_TRACE(LName);
    FLog->Clear();
    const Fuzzing::TManualJobFileResult LResult =
        Fuzzing::CheckManualJobFile(FPathProvider, ReadFile(LFile.string()));
    EXPECT_EQ(LResult.Mismatch, "");
    const int LFailedLoads = FLog->Count(TLogEntryKind::Message, "Failed to load queued manual jobs");
    if (LName.starts_with("valid-")) {
      EXPECT_EQ(LFailedLoads, 0);
      // Items that cannot be read are skipped with an error.
      EXPECT_TRUE(LName.find("skip") == std::string::npos || FLog->Contains(TLogEntryKind::Error));
    } else if (LName.starts_with("bad-")) {
      // Both loaders fail; the list saved afterwards is empty and reads back.
      EXPECT_EQ(LFailedLoads, 2);
      EXPECT_EQ(LResult.JobCount, 0u);
      EXPECT_EQ(FLog->Count(TLogEntryKind::Exception), 2);
    }
  }
}

// A saver recognises a save of exactly what its last write put on disk and skips it; every way a
// persisted member of a saved job can change must make the next save write.

// Counts the documents it writes.
class TCountingSaver : public TFileJobListSaverNoPermissionsNoLogging {
public:
  using TFileJobListSaverNoPermissionsNoLogging::TFileJobListSaverNoPermissionsNoLogging;
  int Writes = 0;

protected:
  void AfterXmlSaved(const std::string&) override { ++Writes; }
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
TStartConditionStorage& StorageOf(const TJobPtr& AJob) {
  return *(*AJob->GetStartCondition()->GetStorages())[0];
}

// Runs AJob through a real agent-task processor.
void RunThroughProcessor(const TJobPtr& AJob) {
  TManualClockScope LClock;
  auto LDispatcher = std::make_shared<::testing::NiceMock<MockAgentTaskDispatcher>>();
  const auto LPool = std::make_shared<TAgentTaskJobProcessorPool>(
      [&] { return std::make_shared<TAgentTaskJobProcessor>(LDispatcher); });
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

// So must another list of jobs, and a file changed behind the saver's back.
TEST_F(SkipSaveTest, EveryWayOfChangingASavedJobMakesTheNextSaveWrite) {
  const auto Rewrite = [this](const std::string& AContent) {
    ASSERT_TRUE(std::filesystem::remove(QueueFile()));
    WriteFile(QueueFile(), AContent);
  };
  const auto LLongAgo = std::filesystem::file_time_type::clock::now() - 24h;
  const std::vector<std::pair<const char*, std::function<void(TJobPtr&)>>> LCases = {
      // The job's own setters.
      {"Identifier", [](auto& J) { J->SetIdentifier("X"); }},
      {"DisplayText", [](auto& J) { J->SetDisplayText("X"); }},
      {"CanRunParallel", [](auto& J) { J->SetCanRunParallel(false); }},
      {"IsManual", [](auto& J) { J->SetIsManual(false); }},
      {"Order", [](auto& J) { J->SetOrder(9); }},
      {"IsRegularJob", [](auto& J) { J->SetIsRegularJob(false); }},
      {"QueueIndex", [](auto& J) { J->SetQueueIndex(4); }},
      {"ItemKind", [](auto& J) { J->SetItemKind(2); }},
      {"IsUserVisible", [](auto& J) { J->SetIsUserVisible(false); }},
      {"NextExecution", [](auto& J) { J->SetNextExecution(45000.5); }},
      {"ExecState", [](auto& J) { J->SetExecState(TJobExecState::Queued); }},
      {"JobAction", [](auto& J) { J->SetJobAction(std::make_shared<TScannerJobAction>()); }},
      // What the job owns.
      {"a condition",
       [](auto& J) { J->GetStartCondition()->AddCondition(std::make_shared<TStartConditionInterval>()); }},
      {"IntervalValue", [](auto& J) { IntervalOf(J).SetIntervalValue(6); }},
      {"IntervalUnit", [](auto& J) { IntervalOf(J).SetIntervalUnit(TDelayUnit::duHours); }},
      {"MaxSplaySeconds", [](auto& J) { IntervalOf(J).SetMaxSplaySeconds(30); }},
      {"CatchUp", [](auto& J) { IntervalOf(J).SetCatchUp(false); }},
      {"StorageName", [](auto& J) { IntervalOf(J).SetStorageName("S"); }},
      {"storage Name", [](auto& J) { StorageOf(J).SetName("S"); }},
      {"LastRun", [](auto& J) { StorageOf(J).SetLastRun(45000.5); }},
      {"LastDrop", [](auto& J) { StorageOf(J).SetLastDrop(45000.5); }},
      {"SplaySeconds", [](auto& J) { StorageOf(J).SetSplaySeconds(3); }},
      {"ReplaceSplaySeconds", [](auto& J) { StorageOf(J).ReplaceSplaySeconds(-1, 3); }},
      {"Anchor", [](auto& J) { StorageOf(J).SetAnchor(45000.5); }},
      {"ReplaceAnchor", [](auto& J) { StorageOf(J).ReplaceAnchor(CNoDateTime, 45000.5); }},
      {"SkippedUntil", [](auto& J) { StorageOf(J).SetSkippedUntil(45000.5); }},
      // Whole-record copies: Assign, a record copy into an owned record, a read from a node.
      {"Assign",
       [](auto& J) {
         const TJobPtr L = CloneAs(*J);
         L->SetOrder(3);
         J->Assign(*L);
       }},
      {"record copy into the action",
       [](auto& J) {
         TScannerJobAction LOther;
         LOther.ExecutionId = "{E}";
         CopyRecordMembers(LOther, *J->GetJobAction());
       }},
      {"read from a node",
       [](auto& J) { NodeToRecord(RecordToNode(*J->GetStartCondition()), *J->GetStartCondition()); }},
      // The engine's writers: the scheduler's evaluation, a run's record, the processor.
      {"evaluation", [](auto& J) { J->GetStartCondition()->CalcNextExecution(Now()); }},
      {"run recorded", [](auto& J) { J->GetStartCondition()->SetAlreadyRunFlag(true); }},
      {"processor", [](auto& J) { RunThroughProcessor(J); }},
      // Another list: another order, a job removed, a job added, an equal copy in a job's place.
      {"another order", [&](auto&) { std::swap(FJobs[0], FJobs[1]); }},
      {"a job removed", [&](auto&) { FJobs.pop_back(); }},
      {"a job added", [&](auto&) { FJobs.push_back(FullJob("D")); }},
      {"an equal copy", [](auto& J) { J = CloneAs(*J); }},
      // The file, behind the saver's back.
      {"file removed", [&](auto&) { ASSERT_TRUE(std::filesystem::remove(QueueFile())); }},
      {"file replaced", [&](auto&) { Rewrite(ReadFile(QueueFile())); }},
      {"file size changed", [&](auto&) { Rewrite(ReadFile(QueueFile()) + " "); }},
      {"file touched", [&](auto&) { std::filesystem::last_write_time(QueueFile(), LLongAgo); }},
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

}  // namespace
}  // namespace Orvane::Testing
