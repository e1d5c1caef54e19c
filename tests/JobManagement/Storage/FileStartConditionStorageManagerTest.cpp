#include <gmock/gmock.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "../../../fuzz/ConditionStorageFileCheck.h"
#include "FileJobListTestKit.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Xml/NativeXml.h"

namespace Orvane::Testing {
namespace {

using ::testing::ElementsAre;
using TManager = TFileStartConditionStorageManagerNoFilePermissions<>;

constexpr const char* CKeyA = "{6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01}";
constexpr const char* CKeyB = "{6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E02}";
constexpr const char* CNodeA = "N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E01";
constexpr const char* CNodeB = "N6D1C0E5A-1B2C-4D3E-8F40-5A6B7C8D9E02";

struct TStored {
  std::string Name;
  TDateTime LastRun = -1;
  int32_t Splay = -1;
};

TJobPtr Job(const std::string& AIdentifier, const std::vector<TStored>& AStorages) {
  const TJobPtr LJob = NewJob(AIdentifier);
  for (const TStored& LStored : AStorages) {
    auto LStorage = std::make_shared<TStartConditionStorage>();
    LStorage->SetName(LStored.Name);
    LStorage->SetLastRun(LStored.LastRun);
    LStorage->SetSplaySeconds(LStored.Splay);
    LJob->GetStartCondition()->GetStorages()->push_back(LStorage);
  }
  return LJob;
}

TStartConditionStorage& StorageOf(const TJobPtr& AJob, std::size_t AIndex = 0) {
  return *(*AJob->GetStartCondition()->GetStorages())[AIndex];
}

TStrings KeyElements(const std::string& APath) {
  TNativeXml LDocument("Root");
  LDocument.LoadFromFile(APath);
  TStrings LNames;
  for (int32_t I = 0; I < LDocument.GetRoot()->NodeCount(); ++I)
    LNames.push_back(LDocument.GetRoot()->Nodes(I)->GetName());
  return LNames;
}

std::string KeyElement(const std::string& AName, const std::string& AStorage, const std::string& ALastRun) {
  return "<" + AName + "><TStartConditionStorageList><TStartConditionStorage><Name>" + AStorage +
         "</Name><LastRun>" + ALastRun +
         "</LastRun></TStartConditionStorage></TStartConditionStorageList></" + AName + ">";
}

class FileStartConditionStorageManagerTest : public TFileJobListFixture {
protected:
  void SetUp() override {
    TFileJobListFixture::SetUp();
    std::filesystem::create_directories(FData.Path() + "/Agent");
  }
  // A manager on the fixture's file, as a new agent process would build it.
  std::shared_ptr<TManager> NewManager(bool ALoad = true) {
    auto LManager = std::make_shared<TManager>(FPath);
    if (ALoad) LManager->LoadConditionStorages();
    return LManager;
  }

  const std::string FPath = FData.Path() + "/Agent/ConditionStorage.xml";
};

// One element per key, the active jobs first; the state comes back matched by storage name without
// regard to case, and the live storages keep their names, by which the conditions find them.
TEST_F(FileStartConditionStorageManagerTest, RestartBringsStoredStateBackMatchedByNameWithoutRegardToCase) {
  {
    auto LManager = NewManager();
    EXPECT_TRUE(LManager->GetStoresLoaded());  // a missing file counts as loaded
    TJobPtr LLeaving = Job(CKeyB, {{"Daily#1", 46001.25}});
    LManager->RegisterJob(LLeaving);
    LManager->UnRegisterJob(LLeaving);
    LManager->RegisterJob(
        Job(CKeyA, {{"Interval#1", 46000.5, 17}, {"Daily#1", 46001.75, 99}, {"Gone#1", 46002.0}}));
    ASSERT_TRUE(LManager->SaveConditionStorages());
    EXPECT_THAT(KeyElements(FPath), ElementsAre(CNodeA, CNodeB));
  }
  FLog->Clear();
  auto LManager = NewManager();
  TJobPtr LJob = Job(CKeyA, {{"DAILY#1"}, {"New#1", 123.0, 5}, {"interval#1"}});
  LManager->RegisterJob(LJob);
  std::vector<std::tuple<std::string, TDateTime, int32_t>> LStates;
  for (const auto& L : *LJob->GetStartCondition()->GetStorages())
    LStates.emplace_back(L->GetName(), L->GetLastRun(), L->GetSplaySeconds());
  EXPECT_EQ(LStates,
            (decltype(LStates){{"DAILY#1", 46001.75, 99}, {"New#1", 123.0, 5}, {"interval#1", 46000.5, 17}}));
  // The stored copy is released: saving writes the live storages under the key once.
  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_THAT(KeyElements(FPath), ElementsAre(CNodeA, CNodeB));
  EXPECT_EQ(ReadFile(FPath).find("Gone#1"), std::string::npos);
}

// The first list registered under a key is the one tracked; a job that leaves keeps the state it
// had then, whatever its object does afterwards (a run still going), and one that returns gets a copy.
TEST_F(FileStartConditionStorageManagerTest, JobThatLeavesAndComesBackGetsTheStateItHadWhenItLeft) {
  auto LManager = NewManager();
  TJobPtr LJob = Job(CKeyA, {{"Interval#1", 46000.5}});
  LManager->RegisterJob(LJob);
  LManager->RegisterJob(Job(CKeyA, {{"Interval#1", 47000.0}}));
  StorageOf(LJob).SetLastRun(46500.0);
  ASSERT_TRUE(LManager->SaveConditionStorages());
  const TJobPtr LAfterRestart = Job(CKeyA, {{"Interval#1"}});
  NewManager()->RegisterJob(LAfterRestart);
  EXPECT_EQ(StorageOf(LAfterRestart).GetLastRun(), 46500.0);
  LManager->UnRegisterJob(LJob);
  StorageOf(LJob).SetLastRun(48000.0);
  LManager->UnRegisterJob(LJob);
  TJobPtr LBack = Job(CKeyA, {{"Interval#1"}});
  LManager->RegisterJob(LBack);
  EXPECT_EQ(StorageOf(LBack).GetLastRun(), 46500.0);
  EXPECT_NE(&StorageOf(LBack), &StorageOf(LJob));
}

// A save before the file is read writes nothing. Jobs registered before then get the file's state;
// the copy of one that left before does not know it, so the stored state wins. A nameless stored
// storage goes to the first live storage.
TEST_F(FileStartConditionStorageManagerTest, SaveBeforeLoadWritesNothingAndLoadMergesIntoEarlierJobsOnce) {
  const std::string LContent = "<Root>" + KeyElement(CNodeA, "Interval#1", "46000.5") +
                               KeyElement(CNodeB, "Interval#1", "46001.5") +
                               KeyElement("NA1", "", "46002.5") + "</Root>";
  WriteFile(FPath, LContent);
  auto LManager = NewManager(false);
  TJobPtr LJob = Job(CKeyA, {{"Interval#1", 45000.5}});
  LManager->RegisterJob(LJob);
  TJobPtr LLeft = Job(CKeyB, {{"Interval#1"}});
  LManager->RegisterJob(LLeft);
  LManager->UnRegisterJob(LLeft);
  EXPECT_TRUE(LManager->SaveConditionStorages());
  EXPECT_EQ(ReadFile(FPath), LContent);
  LManager->LoadConditionStorages();
  EXPECT_EQ(StorageOf(LJob).GetLastRun(), 46000.5);
  TJobPtr LBack = Job(CKeyB, {{"Interval#1"}});
  TJobPtr LNameless = Job("{A1}", {{"Interval#1"}, {"Daily#1"}});
  LManager->RegisterJob(LBack);
  LManager->RegisterJob(LNameless);
  EXPECT_EQ(StorageOf(LBack).GetLastRun(), 46001.5);
  EXPECT_EQ(std::pair(StorageOf(LNameless, 0).GetName(), StorageOf(LNameless, 0).GetLastRun()),
            std::pair(std::string("Interval#1"), 46002.5));
  EXPECT_EQ(StorageOf(LNameless, 1).GetLastRun(), -1);
  // Loaded once per manager: a changed file is not merged again.
  WriteFile(FPath, "<Root/>");
  StorageOf(LJob).SetLastRun(46003.0);
  LManager->LoadConditionStorages();
  EXPECT_EQ(StorageOf(LJob).GetLastRun(), 46003.0);
}

// "N" and the inner text, whatever the first and last characters (cut as characters, not bytes);
// what an element name cannot hold is escaped, the escape character too, and comes back.
TEST_F(FileStartConditionStorageManagerTest, KeysAndElementNames) {
  const std::pair<std::string, std::string> LCases[] = {
      {CKeyA, CNodeA}, {"ABC", "NB"}, {"\xC3\x84x\xC3\x96", "Nx"}, {"{\xE2\x82\xAC}", "N_E2_82_AC"},
      {"", "N"},       {"{", "N"},    {"{a b}", "Na_20b"}};
  for (const auto& [LKey, LName] : LCases) EXPECT_EQ(TManager::KeyToNodeName(LKey), LName) << LKey;
  EXPECT_EQ(TManager::NodeNameToKey(CNodeA), CKeyA);
  EXPECT_EQ(TManager::NodeNameToKey("N"), "{}");
  // Registering warns exactly about the keys that do not come back from their element names. An
  // escape without two hexadecimal digits is taken as it stands.
  EXPECT_EQ(TManager::NodeNameToKey("Nx_zz_4"), "{x_zz_4}");
  TManager LProbe(FPath + ".probe");
  for (const std::string& LKey : TStrings{
           "{job 1/\xC3\xA4&<>\"}", "{_5F}", "{a.b-c}", "{x}y}", std::string("{\0}", 3), "{A}", "{}", "{",
           "}", "", "A", "{A}\xC3\x84", "\xC3\x84{A}", "{\xC3\x84}", "{A", "A}", "{_}", "{a_5Fb}"}) {
    const std::string LName = TManager::KeyToNodeName(LKey);
    const bool LComesBack = TManager::NodeNameToKey(LName) == LKey;
    EXPECT_TRUE(LComesBack || LKey.size() < 2 || LKey.front() != '{' || LKey.back() != '}') << LKey;
    EXPECT_EQ(LName.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._"),
              std::string::npos)
        << LName;
    FLog->Clear();
    LProbe.RegisterJob(Job(LKey, {}));
    const std::string LWarning = "\"" + LKey + "\" is not kept across restarts";
    EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, LWarning), !LComesBack) << LKey;
  }
}

// Names and texts that are not UTF-8 are read with U+FFFD (the element names as the key list and
// the reader both see them); the state is kept, and the next save writes valid UTF-8.
TEST_F(FileStartConditionStorageManagerTest, InvalidUtf8IsReplacedWithOneWarningAndTheStateIsKept) {
  const std::string R = "\xEF\xBF\xBD";
  WriteFile(FPath, "<Root>" + KeyElement("NA1", "I#1", "1.5") + KeyElement("NB\xC0", "D\xE9j\xE0", "2.5") +
                       "</Root>");
  auto LManager = NewManager();
  TJobPtr LA = Job("{A1}", {{"I#1"}});
  TJobPtr LB = Job("{B" + R + "}", {{"D" + R + "j" + R}});
  LManager->RegisterJob(LA);
  LManager->RegisterJob(LB);
  EXPECT_EQ(StorageOf(LA).GetLastRun(), 1.5);
  EXPECT_EQ(StorageOf(LB).GetLastRun(), 2.5);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, FPath + " held 3 byte sequences that are not UTF-8"), 1);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Exception));
  ASSERT_TRUE(LManager->SaveConditionStorages());
  EXPECT_EQ(KeyElements(FPath), (TStrings{"NA1", "NB_EF_BF_BD"}));
}

// A file that cannot be written is logged and the save still counts; a directory that cannot be
// made fails the save.
TEST_F(FileStartConditionStorageManagerTest, FailedWritesAreLoggedAndOnlyAMissingDirectoryFailsTheSave) {
  const struct {
    std::function<void()> Break;
    bool Saved;
    const char* Context;
  } LCases[] = {
      {[&] { std::filesystem::create_directories(FPath); }, true,
       "TFileStartConditionStorageManagerNoFilePermissions.InternalSaveStorages"},
      {[&] { WriteFile(FData.Path() + "/Agent", "a file"); }, false,
       "TFileStartConditionStorageManagerNoFilePermissions.SaveConditionStorages"},
  };
  for (const auto& LCase : LCases) {
    SCOPED_TRACE(LCase.Context);
    std::filesystem::remove_all(FData.Path() + "/Agent");
    auto LManager = NewManager();
    LManager->RegisterJob(Job(CKeyA, {{"Interval#1", 46000.5}}));
    LCase.Break();
    FLog->Clear();
    EXPECT_EQ(LManager->SaveConditionStorages(), LCase.Saved);
    ASSERT_EQ(FLog->Count(TLogEntryKind::Exception), 1);
    EXPECT_EQ(FLog->Entries().at(FLog->IndexOf(TLogEntryKind::Exception)).Value, LCase.Context);
  }
}

// Every file of the condition-storage fuzzer's corpus (the seeds and what fuzzing added) passes the
// fuzzer's checks in the ordinary build as well; among them files that cannot be read or hold a
// document of another kind, which load nothing and are replaced by the next save.
TEST(FileStartConditionStorageManagerCorpusTest, EveryCorpusFilePassesTheFuzzChecks) {
  RemoveAllLogSinks();
  // Named by the build: __FILE__ may be relative to a directory the test does not run in.
  const std::filesystem::path LCorpus = ORVANE_CONDITION_STORAGE_CORPUS_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(LCorpus)) << LCorpus;
  TTempDir LDir("orvane-condstore-corpus");
  int LFiles = 0;
  std::size_t LKeys = 0;
  for (const std::filesystem::directory_entry& LEntry : std::filesystem::directory_iterator(LCorpus)) {
    if (!LEntry.is_regular_file()) continue;
    const Fuzzing::TConditionStorageFileResult LResult = Fuzzing::CheckConditionStorageFile(
        LDir.Path() + "/ConditionStorage.xml", ReadFile(LEntry.path().string()));
    EXPECT_EQ(LResult.Mismatch, "") << LEntry.path().filename();
    LKeys += LResult.KeyCount;
    ++LFiles;
  }
  EXPECT_GE(LFiles, 9);
  EXPECT_GT(LKeys, 0u);
}

}  // namespace
}  // namespace Orvane::Testing
