#include <gmock/gmock.h>
#include <stdlib.h>
#ifdef _WIN32
#include <aclapi.h>
#include <windows.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>

#include "../../../fuzz/ManualJobFileCheck.h"
#include "FileJobListTestKit.h"
#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobManagement/JobLists/CustomJobListProvider.h"
#include "JobManagement/JobService/JobQueue.h"
#include "JobManagement/Storage/FilePermissionUtils.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "JobServices/AgentTask/JobProcessor.h"
#include "JobServices/AgentTask/JobProcessorPool.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionFacade.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Data/RecordCopy.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
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

#ifdef _WIN32
// The rights that an allow entry of APath's ACL grants the Everyone group; 0 without one.
ACCESS_MASK EverybodyRights(const std::string& APath) {
  const std::u16string LPath = Utf8ToUtf16(APath);
  PACL LAcl = nullptr;
  PSECURITY_DESCRIPTOR LDescriptor = nullptr;
  EXPECT_EQ(
      ::GetNamedSecurityInfoW(reinterpret_cast<const wchar_t*>(LPath.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr, &LAcl, nullptr, &LDescriptor),
      static_cast<DWORD>(ERROR_SUCCESS));
  SID_IDENTIFIER_AUTHORITY LWorld = SECURITY_WORLD_SID_AUTHORITY;
  PSID LEveryone = nullptr;
  ::AllocateAndInitializeSid(&LWorld, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &LEveryone);
  ACCESS_MASK LRights = 0;
  for (DWORD LIndex = 0; LAcl && LIndex < LAcl->AceCount; ++LIndex) {
    ACCESS_ALLOWED_ACE* LAce = nullptr;
    if (::GetAce(LAcl, LIndex, reinterpret_cast<void**>(&LAce)) &&
        LAce->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && ::EqualSid(&LAce->SidStart, LEveryone))
      LRights |= LAce->Mask;
  }
  ::FreeSid(LEveryone);
  ::LocalFree(LDescriptor);
  return LRights;
}
#endif

class FilePermissionUtilsTest : public TFileJobListFixture {
protected:
  void TearDown() override { SetFilePermissionsPluginBaseDirForTesting(""); }

  // A file, or with ADirectory a directory, of the data directory with exactly AMode.
  std::string Make(const std::string& AName, int AMode, bool ADirectory = false) {
    const std::string LPath = FData.Path() + "/" + AName;
#ifdef _WIN32
    (void)AMode;  // the data directory's ACL is inherited
    ADirectory ? (void)std::filesystem::create_directory(std::filesystem::u8path(LPath))
               : WriteFile(LPath, "<Jobs/>");
#else
    ADirectory ? (void)mkdir(LPath.c_str(), AMode) : WriteFile(LPath, "<Jobs/>");
    EXPECT_EQ(chmod(LPath.c_str(), AMode), 0);
#endif
    return LPath;
  }
};

// The path crosses to the plug-in as UTF-16 and back: characters beyond the basic plane travel as
// surrogate pairs and must name the same file again. The plug-in is loaded for the call only.
TEST_F(FilePermissionUtilsTest, PluginGrantsReadToEverybodyAndWriteOnlyWithTheFlag) {
  const std::string LPlugin = FilePermissionsPluginFileName();
  ASSERT_EQ(LPlugin, GetExecutableDir() + "/Plugins/Sys/FilePermissions.dll");
  ASSERT_TRUE(FileExists(LPlugin)) << "the plug-in is built beside the test binary";
  const struct {
    std::string Path;
    bool Write;
    int Expected;  // the mode; on Windows, 1 when Everyone has full control
  } LCases[] = {{Make("Aufträge-\xE6\x96\x87\xE4\xBB\xB6-\xF0\x9F\x98\x80.xml", 0600), true, 0666},
                {Make("ManualJobsInJobQueue.xml", 0600), false, 0644},
                {Make("AgentTasks", 0700, true), true, 0777},
                {Make("Other", 0700, true), false, 0755}};
  for (const auto& LCase : LCases) {
#ifdef _WIN32
    // Full control for Everyone with the flag, read and execute without it; none of it before.
    EXPECT_NE(EverybodyRights(LCase.Path) & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
    SetAllRightsForEverybody(LCase.Path, LCase.Write);
    const ACCESS_MASK LRights = EverybodyRights(LCase.Path);
    if (LCase.Write)
      EXPECT_EQ(LRights & FILE_ALL_ACCESS, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS)) << LCase.Path;
    else
      EXPECT_EQ(LRights & (FILE_GENERIC_READ | FILE_WRITE_DATA), static_cast<ACCESS_MASK>(FILE_GENERIC_READ))
          << LCase.Path;
#else
    SetAllRightsForEverybody(LCase.Path, LCase.Write);
    EXPECT_EQ(ModeOf(LCase.Path), static_cast<mode_t>(LCase.Expected)) << LCase.Path;
#endif
  }
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Message, "failed"));
  EXPECT_FALSE(IsLibraryLoaded(LPlugin));
}

// Each way the call can fail is logged and leaves the file as it was; a plug-in that was loaded is
// unloaded again (the raising plug-in's exception class lives in it, so it is logged after that).
TEST_F(FilePermissionUtilsTest, MissingPathOrPluginThatIsMissingBrokenOrFailingIsLoggedAndChangesNothing) {
  const std::string LFile = Make("ConditionStorage.xml", 0600);
  const std::string LStandIns = GetExecutableDir() + "/TestPlugins/";
  ASSERT_TRUE(ForceDirectories(FData.Path() + "/broken/Plugins/Sys"));
  WriteFile(FData.Path() + "/broken/Plugins/Sys/FilePermissions.dll", "MZ this is no shared object");
  const struct {
    std::string Path, BaseDir;
    TLogEntryKind Kind;  // of the entry that says why
    std::string Why;
  } LCases[] = {
      // No plug-in in the base directory: a missing path must not even look for it.
      {FData.Path() + "/missing.xml", FData.Path(), TLogEntryKind::Message,
       "Directory or file does not exist"},
      {"", FData.Path(), TLogEntryKind::Message, "Directory or file does not exist"},
      {LFile, FData.Path(), TLogEntryKind::Message, "DLL \"FilePermissions.dll\" not found"},
      {LFile, FData.Path() + "/broken", TLogEntryKind::Exception, "Failed to load library"},
      {LFile, LStandIns + "NoExport", TLogEntryKind::Exception,
       "Proc \"SetAllRightsForEverybody\" not found"},
      {LFile, LStandIns + "Raising", TLogEntryKind::Exception, "refused " + LFile + " without write"},
  // A file name on disk may be any bytes; one that is not UTF-8 cannot be handed over as UTF-16.
#ifdef _WIN32  // names on disk are UTF-16 there: such a name cannot even be made
      {FData.Path() + "/Jobs-\xFF.xml", "", TLogEntryKind::Exception, "Text is not valid UTF-8 (byte "},
#else
      {Make("Jobs-\xFF.xml", 0600), "", TLogEntryKind::Exception, "Text is not valid UTF-8 (byte "},
#endif
  };
  for (const auto& LCase : LCases) {
    SCOPED_TRACE(LCase.Why);
    SetFilePermissionsPluginBaseDirForTesting(LCase.BaseDir);
    FLog->Clear();
    SetAllRightsForEverybody(LCase.Path, false);
    EXPECT_EQ(FLog->Count(LCase.Kind, LCase.Why), 1);
    EXPECT_EQ(FLog->Count(TLogEntryKind::Message, "SetAllRightsForEverybody failed"),
              LCase.Kind == TLogEntryKind::Exception ? 1 : 0);
#ifndef _WIN32
    if (FileExists(LCase.Path)) {
      EXPECT_EQ(ModeOf(LCase.Path), 0600u);
    }
#endif
  }
  for (const char* LKind : {"NoExport", "Raising"}) {
    ASSERT_TRUE(FileExists(LStandIns + LKind + "/Plugins/Sys/FilePermissions.dll"))
        << "built beside the tests";
    EXPECT_FALSE(IsLibraryLoaded(LStandIns + LKind + "/Plugins/Sys/FilePermissions.dll"));
  }
}

TEST(Utf8ToUtf16Test, ConvertsEveryLengthAndRefusesMalformedText) {
  EXPECT_EQ(Utf8ToUtf16("/var/lib/a.xml"), u"/var/lib/a.xml");
  EXPECT_EQ(Utf8ToUtf16("\xC3\xA4\xE6\x96\x87\xEF\xBF\xBD"), u"\u00E4\u6587\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"), std::u16string(u"\xD83D\xDE00\xDBFF\xDFFF"));
  const char* LMalformed[] = {
      "\x80",              // continuation without a lead
      "\xC3",              // cut short
      "\xE6\x96",          // cut short
      "\xC3\x41",          // lead followed by a plain character
      "\xC0\xAF",          // overlong '/'
      "\xE0\x80\xAF",      // overlong '/'
      "\xED\xA0\x80",      // an encoded surrogate
      "\xF4\x90\x80\x80",  // past U+10FFFF
      "\xF8\x88\x80\x80\x80",
  };
  for (const char* LText : LMalformed)
    EXPECT_THROW(Utf8ToUtf16(std::string("ok") + LText), EConvertError) << ::testing::PrintToString(LText);
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

// The bytes of every kind of file the agent writes, kept under tests/fixtures/xml/: each is loaded
// and written back, byte for byte, and the job lists are also written anew from the same records.
// With ORVANE_WRITE_XML_FIXTURES=1 in the environment the test writes the files instead.
// Texts an XML writer must take care of: markup characters, quotes, line ends, tabs, control
// characters, several scripts, a NUL (the text ends there) and surrounding spaces.
const std::vector<std::string> CAwkwardTexts = {
    "Tom & Jerry <scan> \"quoted\" 'single' a>b ]]>",
    "line\r\nbreak\rend\n\ttabbed\t",
    std::string("bell\x07 escape\x1B unit\x1F start\x01"),
    "Zürich ✓ 東京 😀 €",
    std::string("cut\0after", 9),
    "  surrounded  ",
    " ",
};

// One job per awkward text, with actions and conditions of several kinds; the last has neither.
TJobList MakeJobs(bool AQueued) {
  TJobList LJobs;
  for (std::size_t I = 0; I < CAwkwardTexts.size(); ++I) {
    const int LNumber = static_cast<int>(I) + 1;
    const bool LLast = I + 1 == CAwkwardTexts.size();
    const std::string& LText = CAwkwardTexts[I];
    const std::string LTask = LLast || I % 2 == 0 ? "" : LText;  // with it a scanner action
    const TJobPtr LJob =
        NewJob("{FIXTURE-" + std::to_string(LNumber) + "}", {.Task = LTask,
                                                             .Manual = true,
                                                             .Order = LNumber,
                                                             .Due = 46083.385763888888 + LNumber,
                                                             .Text = LText});
    LJobs.push_back(LJob);
    LJob->SetItemKind(CAgentTaskItemKind);
    if (AQueued) {
      LJob->SetQueueIndex(LNumber);
      LJob->SetExecState(2);
      LJob->SetCanRunParallel(false);
    }
    if (LLast) break;
    if (I % 2 == 0) {
      auto LAction = std::make_shared<TFileScannerJobAction>();
      LAction->AgentTaskId = "{TASK-" + std::to_string(LNumber) + "}";
      LAction->ExecutionId = CAwkwardTexts[(I + 1) % CAwkwardTexts.size()];
      LAction->Paths = {"/srv/a&b", "", LText};
      LJob->SetJobAction(LAction);
    } else {
      std::static_pointer_cast<TScannerJobAction>(LJob->GetJobAction())->IsPredefined = false;
    }
    auto LDelay = std::make_shared<TStartConditionOnDelay>();
    LDelay->SetDelayValue(LNumber * 5);
    LDelay->SetValueUnit(TDelayUnit::duHours);
    LDelay->SetCreated(46080.5 + LNumber / 3.0);
    LJob->GetStartCondition()->AddCondition(LDelay);
    if (I % 3 == 1) {
      auto LDaily = std::make_shared<TStartConditionDaily>();
      LDaily->SetTimeOfDay(8, 30);
      LDaily->SetWeekDays(0x3E);
      LDaily->SetMaxSplaySeconds(600);
      LJob->GetStartCondition()->AddCondition(LDaily);
      auto LInterval = std::make_shared<TStartConditionInterval>();
      LInterval->SetIntervalValue(3);
      LInterval->SetCatchUp(true);
      LJob->GetStartCondition()->AddCondition(LInterval);
    }
    const TStorageListPtr LStorages = LJob->GetStartCondition()->GetStorages();
    for (std::size_t S = 0; S < LStorages->size(); ++S) {
      (*LStorages)[S]->SetLastRun(46082.25 + static_cast<double>(S) / 7.0);
      (*LStorages)[S]->SetSplaySeconds(static_cast<int32_t>(S * 17));
    }
  }
  return LJobs;
}

class XmlFixturesTest : public TFileJobListFixture {
protected:
  TManualClockScope FClock;

  std::string Fixture(const std::string& AName) const {
    return std::string(ORVANE_XML_FIXTURE_DIR) + "/" + AName;
  }
  std::string Scratch(const std::string& AName) const { return FData.Path() + "/" + AName; }

  std::string SaveJobs(const TJobList& AJobs) const {
    const std::string LFile = Scratch("jobs.xml");
    TFileJobListSaverNoPermissionsNoLogging(LFile).SaveItems(Sequence(AJobs));
    return ReadFile(LFile);
  }

  std::string ReloadStorages(const std::string& AFixture) const {
    const std::string LFile = Scratch("storages.xml");
    WriteFile(LFile, ReadFile(Fixture(AFixture)));
    TFileStartConditionStorageManagerNoFilePermissions<> LManager(LFile);
    LManager.LoadConditionStorages();
    LManager.SaveConditionStorages();
    return ReadFile(LFile);
  }

  template <class T>
  std::string RewriteSmart(const std::string& AFixture) const {
    TXmlSerializer LReader;
    LReader.LoadFromFile(Fixture(AFixture));
    T LRecord;
    EXPECT_TRUE(LReader.ReadObject(LRecord));
    const std::unique_ptr<TXmlSerializer> LWriter = CreateXmlSerializer("TSmartXmlSerializer");
    LWriter->WriteObject(LRecord);
    return LWriter->GetXml();
  }
};

TEST_F(XmlFixturesTest, EachFileIsWrittenFromItsRecordsAndWrittenBackAfterLoadingByteForByte) {
  const auto Jobs = [this](const std::string& A) {
    TFileJobListProvider<> LLoader(Fixture(A));
    LLoader.LoadData();
    return SaveJobs(LLoader.GetItemList());
  };
  const struct {
    std::string Name;
    std::function<std::string()> Write;                           // from the records
    std::function<std::string(const std::string&)> LoadAndWrite;  // from the fixture's file
    std::string Source = "";  // the file LoadAndWrite reads, when it is not the fixture itself
  } LCases[] = {
      {"ManualJobsInJobList.xml", [this] { return SaveJobs(MakeJobs(false)); }, Jobs},
      {"ManualJobsInJobQueue.xml", [this] { return SaveJobs(MakeJobs(true)); }, Jobs},
      // The storage's members are the job lists' (written from records above); its element names
      // are FileStartConditionStorageManagerTest's. The module hands the server link its request
      // and response as objects, so only their round trip is pinned.
      {"ConditionStorage.xml", nullptr, [this](auto& A) { return ReloadStorages(A); }},
      {"SmartRequest.xml", nullptr, [this](auto& A) { return RewriteSmart<TCalcJobsForClientRequest>(A); }},
      {"SmartResponse.xml", nullptr, [this](auto& A) { return RewriteSmart<TCalcJobsForClientResponse>(A); }},
      // Written by hand with bytes that are not UTF-8; the loader repairs them.
      {"InvalidUtf8.repaired.xml", nullptr, Jobs, "InvalidUtf8.xml"},
  };
  const char* LGenerate = getenv("ORVANE_WRITE_XML_FIXTURES");
  for (const auto& LCase : LCases) {
    SCOPED_TRACE(LCase.Name);
    const std::string LSource = LCase.Source.empty() ? LCase.Name : LCase.Source;
    if (LGenerate && *LGenerate) {
      WriteFile(Fixture(LCase.Name), LCase.Write ? LCase.Write() : LCase.LoadAndWrite(LSource));
      continue;
    }
    const std::string LExpected = ReadFile(Fixture(LCase.Name));
    ASSERT_FALSE(LExpected.empty());
    EXPECT_EQ(LCase.Write ? LCase.Write() : LExpected, LExpected);
    EXPECT_EQ(LCase.LoadAndWrite(LSource), LExpected);
    EXPECT_EQ(LCase.Source.empty() ? LExpected : LCase.LoadAndWrite(LCase.Name), LExpected);
  }
}

}  // namespace
}  // namespace Orvane::Testing
