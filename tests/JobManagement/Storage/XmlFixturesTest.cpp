#include <gtest/gtest.h>
#include <stdlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FileJobListTestKit.h"
#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"
#include "JobManagement/Storage/FileStartConditionStorageManager.h"
#include "OrvaneCore/Conditions/StartConditionDaily.h"
#include "OrvaneCore/Conditions/StartConditionInterval.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/ClockScope.h"

// The bytes of every kind of file the agent writes, kept under tests/fixtures/xml/: each is loaded
// and written back, byte for byte, and the job lists are also written anew from the same records.
// With ORVANE_WRITE_XML_FIXTURES=1 in the environment the test writes the files instead.
namespace Orvane {
namespace {

using Testing::ReadFile;
using Testing::WriteFile;

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
        Testing::NewJob("{FIXTURE-" + std::to_string(LNumber) + "}", {.Task = LTask,
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

class XmlFixturesTest : public Testing::TFileJobListFixture {
protected:
  Testing::TManualClockScope FClock;

  std::string Fixture(const std::string& AName) const {
    return std::string(ORVANE_XML_FIXTURE_DIR) + "/" + AName;
  }
  std::string Scratch(const std::string& AName) const { return FData.Path() + "/" + AName; }

  std::string SaveJobs(const TJobList& AJobs) const {
    const std::string LFile = Scratch("jobs.xml");
    TFileJobListSaverNoPermissionsNoLogging(LFile).SaveItems(Testing::Sequence(AJobs));
    return ReadFile(LFile);
  }
  std::string ReloadJobs(const std::string& AFixture) const {
    TFileJobListProvider<> LLoader(Fixture(AFixture));
    LLoader.LoadData();
    return SaveJobs(LLoader.GetItemList());
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
  const auto Jobs = [this](const std::string& A) { return ReloadJobs(A); };
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
}  // namespace Orvane
