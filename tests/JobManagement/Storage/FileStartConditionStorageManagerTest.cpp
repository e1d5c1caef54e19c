#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Xml/NativeXml.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using TStrings = std::vector<std::string>;

constexpr const char* CKeyA = "{6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01}";
constexpr const char* CKeyB = "{6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E02}";

TStartConditionStoragePtr Storage(const std::string& AName, TDateTime ALastRun, int32_t ASplay = -1) {
  auto LStorage = std::make_shared<TStartConditionStorage>();
  LStorage->SetName(AName);
  LStorage->SetLastRun(ALastRun);
  LStorage->SetSplaySeconds(ASplay);
  return LStorage;
}

TJobPtr Job(const std::string& AIdentifier, const TStorageList& AStorages) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  *LJob->GetStartCondition()->GetStorages() = AStorages;
  return LJob;
}

const TStorageList& StoragesOf(const TJobPtr& AJob) {
  return *AJob->GetStartCondition()->GetStorages();
}

std::string ReadFile(const std::string& APath) {
  std::ifstream LFile(APath, std::ios::binary);
  std::stringstream LContent;
  LContent << LFile.rdbuf();
  return LContent.str();
}

void WriteFile(const std::string& APath, const std::string& AContent) {
  std::filesystem::create_directories(std::filesystem::path(APath).parent_path());
  std::ofstream(APath, std::ios::binary) << AContent;
}

// The names of the root's children.
TStrings KeyElements(const std::string& APath) {
  TNativeXml LDocument("Root");
  LDocument.LoadFromFile(APath);
  TStrings LNames;
  for (int32_t I = 0; I < LDocument.GetRoot()->NodeCount(); ++I)
    LNames.push_back(LDocument.GetRoot()->Nodes(I)->GetName());
  return LNames;
}

// Records what the hooks were given.
class TObservedManager : public TFileStartConditionStorageManagerNoFilePermissions<> {
public:
  using TFileStartConditionStorageManagerNoFilePermissions<>::
      TFileStartConditionStorageManagerNoFilePermissions;
  std::vector<std::string> SavedXml;
  int LoadFailures = 0;

protected:
  void AfterXmlSaved(const std::string& AXml) override { SavedXml.push_back(AXml); }
  void LoadFailed(TConditionStoresDict&) override { ++LoadFailures; }
};

class FileStartConditionStorageManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FDir.Path().empty());
  }

  // A manager on the fixture's file, as a new agent process would build it.
  std::shared_ptr<TObservedManager> NewManager() { return std::make_shared<TObservedManager>(FPath); }

  int Count(TLogEntryKind AKind, const std::string& AText = {}) const { return FLog->Count(AKind, AText); }
  std::vector<TLogEntry> Exceptions() const {
    std::vector<TLogEntry> LResult;
    for (const TLogEntry& LEntry : FLog->Entries())
      if (LEntry.Kind == TLogEntryKind::Exception) LResult.push_back(LEntry);
    return LResult;
  }

  Testing::TTempDir FDir{"orvane-condstore"};
  // Below a directory that does not exist yet: the save creates it.
  const std::string FPath = FDir.Path() + "/Agent/Storage/ConditionStorage.xml";
  Testing::TLogCapture FLog;
};

TEST_F(FileStartConditionStorageManagerTest, SaveBeforeLoadWritesNothingAndLeavesTheFileAlone) {
  auto LManager = NewManager();
  LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 46000.5)}));
  EXPECT_TRUE(LManager->SaveConditionStorages());
  EXPECT_FALSE(std::filesystem::exists(FPath));

  WriteFile(FPath, "state the manager has not read");
  EXPECT_TRUE(LManager->SaveConditionStorages());
  EXPECT_EQ(ReadFile(FPath), "state the manager has not read");
  EXPECT_THAT(LManager->SavedXml, IsEmpty());
}

TEST_F(FileStartConditionStorageManagerTest,
       FirstSaveWritesOneElementPerKeyActiveFirstWithTheStoragesInOrder) {
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  EXPECT_TRUE(LManager->GetStoresLoaded());
  // The missing file is reported, not treated as a failure of the service.
  EXPECT_EQ(Count(TLogEntryKind::Value, "Storage file"), 1);
  EXPECT_EQ(Count(TLogEntryKind::Value, "File not found"), 1);
  EXPECT_EQ(LManager->LoadFailures, 1);

  TJobPtr LLeaving = Job(CKeyB, {Storage("Daily#1", 46001.25)});
  LManager->RegisterJob(LLeaving);
  LManager->UnRegisterJob(LLeaving);
  LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 46000.5, 17), Storage("Daily#1", -1)}));
  ASSERT_TRUE(LManager->SaveConditionStorages());

  EXPECT_THAT(KeyElements(FPath),
              ElementsAre("N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01", "N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E02"));
  // The document handed to the hook is the file's content.
  ASSERT_EQ(LManager->SavedXml.size(), 1u);
  EXPECT_EQ(LManager->SavedXml[0], ReadFile(FPath));
  // Owner-only: this variant leaves the permissions alone.
  struct stat LStat {};
  ASSERT_EQ(::stat(FPath.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_mode & 0777, 0600u);
}

TEST_F(FileStartConditionStorageManagerTest, RestartBringsStoredStateBackMatchedByNameWithoutRegardToCase) {
  {
    auto LManager = NewManager();
    LManager->LoadConditionStorages();
    TJobPtr LJob = Job(CKeyA, {Storage("Interval#1", 46000.5, 17), Storage("Daily#1", 46001.75, 99),
                               Storage("Gone#1", 46002.0)});
    LManager->RegisterJob(LJob);
    LManager->UnRegisterJob(LJob);
    ASSERT_TRUE(LManager->SaveConditionStorages());
  }
  FLog->Clear();

  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  // The new process's job: other letter case, other order, one storage the old one did not have.
  TJobPtr LJob = Job(CKeyA, {Storage("DAILY#1", -1), Storage("New#1", 123.0, 5), Storage("interval#1", -1)});
  LManager->RegisterJob(LJob);

  const TStorageList& LLive = StoragesOf(LJob);
  EXPECT_EQ(LLive[0]->GetLastRun(), 46001.75);
  EXPECT_EQ(LLive[0]->GetSplaySeconds(), 99);
  EXPECT_EQ(LLive[2]->GetLastRun(), 46000.5);
  EXPECT_EQ(LLive[2]->GetSplaySeconds(), 17);
  // Unmatched live storages keep their state; the names stay the live ones, by which the conditions
  // find their storages.
  EXPECT_EQ(LLive[1]->GetLastRun(), 123.0);
  EXPECT_EQ(LLive[0]->GetName(), "DAILY#1");
  EXPECT_EQ(LLive[2]->GetName(), "interval#1");
  // One entry per matched storage, with the storage as it is after the update.
  EXPECT_EQ(Count(TLogEntryKind::Object, "Store of job after update"), 2);
  for (const TLogEntry& LEntry : FLog->Entries())
    if (LEntry.Kind == TLogEntryKind::Object) {
      EXPECT_EQ(LEntry.ObjectClass, "TStartConditionStorage");
    }

  // The stored copy is released: saving writes the live storages under the key once.
  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_THAT(KeyElements(FPath), ElementsAre("N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01"));
  EXPECT_EQ(ReadFile(FPath).find("Gone#1"), std::string::npos);
}

TEST_F(FileStartConditionStorageManagerTest, NamelessStoredStorageGoesToTheFirstLiveStorage) {
  WriteFile(FPath, R"(<?xml version="1.0" encoding="UTF-8"?>
<Root>
  <NA1>
    <TStartConditionStorageList>
      <TStartConditionStorage><Name></Name><LastRun>46000.5</LastRun></TStartConditionStorage>
    </TStartConditionStorageList>
  </NA1>
</Root>
)");
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  TJobPtr LJob = Job("{A1}", {Storage("Interval#1", -1), Storage("Daily#1", -1)});
  LManager->RegisterJob(LJob);
  EXPECT_EQ(StoragesOf(LJob)[0]->GetLastRun(), 46000.5);
  EXPECT_EQ(StoragesOf(LJob)[0]->GetName(), "Interval#1");
  EXPECT_EQ(StoragesOf(LJob)[1]->GetLastRun(), -1);
}

TEST_F(FileStartConditionStorageManagerTest, JobThatLeavesAndComesBackGetsTheStateItHadWhenItLeft) {
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  TJobPtr LJob = Job(CKeyA, {Storage("Interval#1", 46000.5)});
  LManager->RegisterJob(LJob);
  LManager->UnRegisterJob(LJob);
  // The job object that left goes on (a run that was still going) and is unregistered once more:
  // the copy taken when it left stays as it was.
  StoragesOf(LJob)[0]->SetLastRun(47000.0);
  LManager->UnRegisterJob(LJob);

  TJobPtr LBack = Job(CKeyA, {Storage("Interval#1", -1)});
  LManager->RegisterJob(LBack);
  EXPECT_EQ(StoragesOf(LBack)[0]->GetLastRun(), 46000.5);
  // A copy, not the old job's storage object.
  EXPECT_NE(StoragesOf(LBack)[0], StoragesOf(LJob)[0]);
}

TEST_F(FileStartConditionStorageManagerTest, RegisteringTheSameKeyTwiceKeepsTheFirstLiveList) {
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  TJobPtr LFirst = Job(CKeyA, {Storage("Interval#1", 46000.5)});
  LManager->RegisterJob(LFirst);
  LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 47000.0)}));
  // The first job's list is the one tracked: its later changes are what is saved.
  StoragesOf(LFirst)[0]->SetLastRun(46500.0);
  ASSERT_TRUE(LManager->SaveConditionStorages());

  auto LRestarted = NewManager();
  LRestarted->LoadConditionStorages();
  TJobPtr LAfter = Job(CKeyA, {Storage("Interval#1", -1)});
  LRestarted->RegisterJob(LAfter);
  EXPECT_EQ(StoragesOf(LAfter)[0]->GetLastRun(), 46500.0);
  EXPECT_EQ(KeyElements(FPath).size(), 1u);
}

TEST_F(FileStartConditionStorageManagerTest, LoadMergesIntoJobsRegisteredBeforeAndOnlyOnce) {
  {
    auto LManager = NewManager();
    LManager->LoadConditionStorages();
    LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 46000.5)}));
    LManager->RegisterJob(Job(CKeyB, {Storage("Interval#1", 46001.5)}));
    ASSERT_TRUE(LManager->SaveConditionStorages());
  }
  auto LManager = NewManager();
  // Registered before the file is read: the load applies the stored state to the live list.
  TJobPtr LJob = Job(CKeyA, {Storage("Interval#1", -1)});
  LManager->RegisterJob(LJob);
  // Left before the file was read: its copy never saw the stored state, so the stored state wins.
  TJobPtr LLeft = Job(CKeyB, {Storage("Interval#1", -1)});
  LManager->RegisterJob(LLeft);
  LManager->UnRegisterJob(LLeft);
  LManager->LoadConditionStorages();
  EXPECT_EQ(StoragesOf(LJob)[0]->GetLastRun(), 46000.5);
  EXPECT_EQ(Count(TLogEntryKind::Message, "replaces the state it had before the file was read"), 1);
  TJobPtr LBack = Job(CKeyB, {Storage("Interval#1", -1)});
  LManager->RegisterJob(LBack);
  EXPECT_EQ(StoragesOf(LBack)[0]->GetLastRun(), 46001.5);

  // Loaded once per manager: a changed file is not merged again.
  WriteFile(FPath, "<Root/>");
  StoragesOf(LJob)[0]->SetLastRun(46003.0);
  LManager->LoadConditionStorages();
  EXPECT_EQ(StoragesOf(LJob)[0]->GetLastRun(), 46003.0);
}

TEST_F(FileStartConditionStorageManagerTest, KeyWithoutBracesIsWrittenAsNAndItsInnerTextAndComesBackBraced) {
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  LManager->RegisterJob(Job("ABC", {Storage("Interval#1", 46000.5)}));
  EXPECT_EQ(Count(TLogEntryKind::Warning, "\"ABC\" is not kept across restarts"), 1);
  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_THAT(KeyElements(FPath), ElementsAre("NB"));

  auto LRestarted = NewManager();
  LRestarted->LoadConditionStorages();
  TJobPtr LSame = Job("ABC", {Storage("Interval#1", -1)});
  TJobPtr LBraced = Job("{B}", {Storage("Interval#1", -1)});
  LRestarted->RegisterJob(LSame);
  LRestarted->RegisterJob(LBraced);
  EXPECT_EQ(StoragesOf(LSame)[0]->GetLastRun(), -1);
  EXPECT_EQ(StoragesOf(LBraced)[0]->GetLastRun(), 46000.5);
}

TEST(FileStartConditionStorageManagerKeyTest, KeysAndElementNames) {
  using TManager = TFileStartConditionStorageManager;
  EXPECT_EQ(TManager::KeyToNodeName("{8A1F0C2E-0D4B-4C3A-9E1F-00AA11BB22CC}"),
            "N8A1F0C2E-0D4B-4C3A-9E1F-00AA11BB22CC");
  EXPECT_EQ(TManager::NodeNameToKey("N8A1F0C2E-0D4B-4C3A-9E1F-00AA11BB22CC"),
            "{8A1F0C2E-0D4B-4C3A-9E1F-00AA11BB22CC}");
  EXPECT_EQ(TManager::KeyToNodeName("ABC"), "NB");
  EXPECT_EQ(TManager::NodeNameToKey("NB"), "{B}");
  // Characters are cut, not bytes: the first and the last are two-byte characters here.
  EXPECT_EQ(TManager::KeyToNodeName("\xC3\x84x\xC3\x96"), "Nx");
  EXPECT_EQ(TManager::KeyToNodeName("{\xE2\x82\xAC}"), "N_E2_82_AC");
  EXPECT_EQ(TManager::KeyToNodeName(""), "N");
  EXPECT_EQ(TManager::KeyToNodeName("{"), "N");
  EXPECT_EQ(TManager::NodeNameToKey("N"), "{}");
  // What an element name cannot hold is escaped, the escape character too, and comes back.
  for (const std::string& LKey :
       TStrings{"{job 1/\xC3\xA4&<>\"}", "{_5F}", "{a.b-c}", "{x}y}", std::string("{\0}", 3)}) {
    const std::string LName = TManager::KeyToNodeName(LKey);
    EXPECT_EQ(TManager::NodeNameToKey(LName), LKey) << LName;
    EXPECT_EQ(LName.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._"),
              std::string::npos)
        << LName;
  }
  EXPECT_EQ(TManager::KeyToNodeName("{a b}"), "Na_20b");
  // An escape character without two hexadecimal digits is taken as it stands.
  EXPECT_EQ(TManager::NodeNameToKey("Nx_zz_4"), "{x_zz_4}");
}

struct TBadFile {
  const char* Name;
  std::string Content;
  const char* Context;  // of the logged exception
};

void PrintTo(const TBadFile& AFile, std::ostream* AStream) {
  *AStream << AFile.Name;
}

class FileStartConditionStorageManagerBadFileTest : public FileStartConditionStorageManagerTest,
                                                    public ::testing::WithParamInterface<TBadFile> {};

TEST_P(FileStartConditionStorageManagerBadFileTest, IsLoggedLoadsNothingAndIsReplacedByTheNextSave) {
  WriteFile(FPath, GetParam().Content);
  auto LManager = NewManager();
  TJobPtr LJob = Job(CKeyA, {Storage("Interval#1", 46000.5)});
  LManager->RegisterJob(LJob);
  LManager->LoadConditionStorages();

  EXPECT_TRUE(LManager->GetStoresLoaded());
  const std::vector<TLogEntry> LExceptions = Exceptions();
  ASSERT_EQ(LExceptions.size(), 1u);
  EXPECT_EQ(LExceptions[0].Value, GetParam().Context);
  EXPECT_EQ(StoragesOf(LJob)[0]->GetLastRun(), 46000.5);
  EXPECT_EQ(Count(TLogEntryKind::Object, "Store of job after update"), 0);

  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_THAT(KeyElements(FPath), ElementsAre("N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileStartConditionStorageManagerBadFileTest,
    ::testing::Values(
        TBadFile{"Garbage",
                 std::string("\x7F"
                             "ELF\x02\x01\x01\0\0garbage",
                             16),
                 ""},
        TBadFile{"WrongRoot", "<TJobList><NA1><TStartConditionStorageList/></NA1></TJobList>",
                 "TFileStartConditionStorageManagerNoFilePermissions.LoadData"}),
    [](const ::testing::TestParamInfo<TBadFile>& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(FileStartConditionStorageManagerTest, BadKeyElementsAreLoggedAndSkippedAndTheOthersLoad) {
  WriteFile(FPath, R"(<?xml version="1.0" encoding="UTF-8"?>
<Root>
  <NA1><TStartConditionStorageList><TStartConditionStorage><Name>I#1</Name><LastRun>1.5</LastRun></TStartConditionStorage></TStartConditionStorageList></NA1>
  <NA1><TStartConditionStorageList><TStartConditionStorage><Name>I#1</Name><LastRun>2.5</LastRun></TStartConditionStorage></TStartConditionStorageList></NA1>
  <NA2><Unexpected/></NA2>
  <NA3><TStartConditionStorageList><TForeign/><TStartConditionStorage><Name>I#1</Name><LastRun>3.5</LastRun></TStartConditionStorage></TStartConditionStorageList></NA3>
</Root>
)");
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  // The repeated key and the element without a storage list, each with an empty context.
  const std::vector<TLogEntry> LExceptions = Exceptions();
  ASSERT_EQ(LExceptions.size(), 2u);
  EXPECT_EQ(LExceptions[0].ExceptionClass, "EListError");
  EXPECT_EQ(LExceptions[0].Value, "");
  EXPECT_EQ(LExceptions[1].ExceptionClass, "EXmlReadError");
  EXPECT_EQ(LExceptions[1].Value, "");
  // The unknown item is skipped by the reader, with an error of its own.
  EXPECT_EQ(Count(TLogEntryKind::Error, "TForeign"), 1);

  TJobPtr LA1 = Job("{A1}", {Storage("I#1", -1)});
  TJobPtr LA2 = Job("{A2}", {Storage("I#1", -1)});
  TJobPtr LA3 = Job("{A3}", {Storage("I#1", -1)});
  for (const TJobPtr& LJob : {LA1, LA2, LA3}) LManager->RegisterJob(LJob);
  EXPECT_EQ(StoragesOf(LA1)[0]->GetLastRun(), 1.5);
  EXPECT_EQ(StoragesOf(LA2)[0]->GetLastRun(), -1);
  EXPECT_EQ(StoragesOf(LA3)[0]->GetLastRun(), 3.5);
}

// Names and texts that are not UTF-8 are read with U+FFFD (the element names as the key list and
// the reader both see them); the state is kept, and the next save writes valid UTF-8.
TEST_F(FileStartConditionStorageManagerTest, InvalidUtf8IsReplacedWithOneWarningAndTheStateIsKept) {
  const std::string R = "\xEF\xBF\xBD";
  WriteFile(
      FPath,
      "<Root><NA1><TStartConditionStorageList><TStartConditionStorage><Name>I#1</Name><LastRun>1.5</LastRun>"
      "</TStartConditionStorage></TStartConditionStorageList></NA1>"
      "<NB\xC0><TStartConditionStorageList><TStartConditionStorage><Name>D\xE9j\xE0</Name>"
      "<LastRun>2.5</LastRun></TStartConditionStorage></TStartConditionStorageList></NB\xC0></Root>");
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  TJobPtr LA = Job("{A1}", {Storage("I#1", -1)});
  TJobPtr LB = Job("{B" + R + "}", {Storage("D" + R + "j" + R, -1)});
  LManager->RegisterJob(LA);
  LManager->RegisterJob(LB);

  EXPECT_EQ(StoragesOf(LA)[0]->GetLastRun(), 1.5);
  EXPECT_EQ(StoragesOf(LB)[0]->GetLastRun(), 2.5);
  EXPECT_EQ(Count(TLogEntryKind::Warning, FPath + " held 3 byte sequences that are not UTF-8"), 1);
  EXPECT_TRUE(Exceptions().empty());
  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_EQ(KeyElements(FPath), (TStrings{"NA1", "NB_EF_BF_BD"}));
}

TEST_F(FileStartConditionStorageManagerTest, FailedWriteIsLoggedAndTheSaveStillSucceeds) {
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 46000.5)}));
  // A directory where the file belongs cannot be replaced by it.
  std::filesystem::create_directories(FPath);
  EXPECT_TRUE(LManager->SaveConditionStorages());
  const std::vector<TLogEntry> LExceptions = Exceptions();
  ASSERT_EQ(LExceptions.size(), 1u);
  EXPECT_EQ(LExceptions[0].Value, "TFileStartConditionStorageManagerNoFilePermissions.InternalSaveStorages");
  // The hook still gets the document.
  ASSERT_EQ(LManager->SavedXml.size(), 1u);
  EXPECT_NE(LManager->SavedXml[0].find("N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01"), std::string::npos);
}

TEST_F(FileStartConditionStorageManagerTest, DirectoryThatCannotBeMadeFailsTheSave) {
  WriteFile(FDir.Path() + "/Agent", "a file where the directory belongs");
  auto LManager = NewManager();
  LManager->LoadConditionStorages();
  LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 46000.5)}));
  EXPECT_FALSE(LManager->SaveConditionStorages());
  const std::vector<TLogEntry> LExceptions = Exceptions();
  ASSERT_EQ(LExceptions.size(), 1u);
  EXPECT_EQ(LExceptions[0].Value, "TFileStartConditionStorageManagerNoFilePermissions.SaveConditionStorages");
  EXPECT_THAT(LManager->SavedXml, IsEmpty());
}

TEST_F(FileStartConditionStorageManagerTest, BaseClassOpensTheFileToEverybodyAfterEveryWrite) {
  auto LManager = std::make_shared<TFileStartConditionStorageManager>(FPath);
  LManager->LoadConditionStorages();
  LManager->RegisterJob(Job(CKeyA, {Storage("Interval#1", 46000.5)}));
  ASSERT_TRUE(LManager->SaveConditionStorages());
  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_EQ(Count(TLogEntryKind::TraceEnter, "SetAllRightsForEverybody"), 2);
  struct stat LStat {};
  ASSERT_EQ(::stat(FPath.c_str(), &LStat), 0);
  EXPECT_EQ(LStat.st_mode & 0666, 0666u);
}

}  // namespace
}  // namespace Orvane
