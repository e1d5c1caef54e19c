#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/TempDir.h"
#include "Support/TestConditions.h"

namespace Orvane {
namespace {

// Gives every plain member a value unlike its default, so that a member the XML loses shows.
class TDistinctValues final : public IMemberVisitor {
public:
  bool ModifiesTarget() const override { return true; }
  void String(const char* AName, std::string& AValue) override {
    AValue = std::string(" text of ") + AName + "\r\n<&>\"";
  }
  void Integer(const char*, int32_t& AValue) override { AValue = 3; }
  void Byte(const char*, uint8_t& AValue) override { AValue = 1; }
  void Boolean(const char*, bool& AValue) override { AValue = !AValue; }
  void DateTime(const char*, TDateTime& AValue) override { AValue = 46000.123456789012345; }
  void Strings(const char*, std::vector<std::string>& AValue) override { AValue = {"one", "", " three "}; }
  void Object(const char*, const TObjectSlot&) override {}
  void ObjectList(const char*, const TObjectListSlot&) override {}
};

void FillDistinct(TTessraData& ARecord) {
  TDistinctValues LVisitor;
  ARecord.DescribeMembers(LVisitor);
}

// Every registered class that can be created and is ABase or descends from it.
std::vector<std::string> CreatableKindsOf(const std::string& ABase) {
  std::vector<std::string> LNames;
  for (const std::string& LName : TClassRegistry::Instance().ClassNames())
    if (TClassRegistry::Instance().InheritsFrom(LName, ABase) && TClassRegistry::Instance().Create(LName))
      LNames.push_back(LName);
  return LNames;
}

// A job with every plain member set, the given action kind, one condition of every kind and their
// storages.
TJobPtr JobWithEveryCondition(const std::string& AActionClass, int ANumber) {
  auto LJob = std::make_shared<TJob>();
  FillDistinct(*LJob);
  LJob->SetIdentifier("{JOB-" + std::to_string(ANumber) + "}");
  auto LAction = std::dynamic_pointer_cast<TJobAction>(TClassRegistry::Instance().Create(AActionClass));
  FillDistinct(*LAction);
  LJob->SetJobAction(LAction);
  for (const std::string& LKind : CreatableKindsOf("TStartCondition")) {
    auto LCondition = std::dynamic_pointer_cast<TStartCondition>(TClassRegistry::Instance().Create(LKind));
    FillDistinct(*LCondition);
    LCondition->SetStorageName("");  // the facade names each storage
    LJob->GetStartCondition()->AddCondition(LCondition);
  }
  for (const TStartConditionStoragePtr& LStorage : *LJob->GetStartCondition()->GetStorages()) {
    const std::string LName = LStorage->GetName();
    FillDistinct(*LStorage);
    LStorage->SetName(LName);
    LStorage->SetLastDrop(CNoDateTime);
  }
  return LJob;
}

// A job class of a library the reader knows: written under its own name, read as itself.
class TSpecialJob : public TJob {
public:
  std::string ClassName() const override { return "TSpecialJob"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override {
    TJob::DescribeMembers(AVisitor);
    AVisitor.String("Extra", Extra);
  }
  std::string Extra;
};
const TClassRegistration<TSpecialJob> GSpecialJobRegistration("TSpecialJob", "TJob");

// The factory makes the plain jobs only; a descendant's item is made through the class registry.
TJobList LoadJobs(const std::string& AFileName) {
  TXmlSerializer LSerializer;
  LSerializer.LoadFromFile(AFileName);
  TJobList LJobs;
  TAbstractSerializerHelper::InternalDeserialize<TJob>(LSerializer, LJobs, "TJobList", "TJob",
                                                       [] { return std::make_shared<TJob>(); });
  return LJobs;
}

class XmlSerializerTest : public ::testing::Test {
protected:
  Testing::TTempDir FDir;
  const std::string FFile = FDir.Path() + "/ManualJobsInJobQueue.xml";
};

TEST_F(XmlSerializerTest, JobsWithEveryConditionKindAndActionKindRoundTripMemberByMember) {
  const std::vector<std::string> LConditionKinds = CreatableKindsOf("TStartCondition");
  const std::vector<std::string> LActionKinds = CreatableKindsOf("TJobAction");
  ASSERT_TRUE(std::count(LConditionKinds.begin(), LConditionKinds.end(), "TStartConditionOnDelay"));
  ASSERT_TRUE(std::count(LConditionKinds.begin(), LConditionKinds.end(), "TFixedCondition"));
  ASSERT_TRUE(std::count(LActionKinds.begin(), LActionKinds.end(), "TFileScannerJobAction"));
  TJobList LJobs;
  for (const std::string& LAction : LActionKinds)
    LJobs.push_back(JobWithEveryCondition(LAction, LJobs.size() + 1));
  auto LSpecial = std::make_shared<TSpecialJob>();
  LSpecial->Extra = "kept";
  LJobs.push_back(LSpecial);  // without action and conditions; awkward texts are the fixtures' part

  TXmlSerializer LWriter;
  LWriter.BeginCollection("TJobList");
  for (const TJobPtr& LJob : LJobs) LWriter.WriteObject(*LJob);
  EXPECT_THROW(LWriter.EndCollection("TJob"), EInvalidOperation);  // not the collection open
  LWriter.EndCollection("TJobList");
  EXPECT_THROW(LWriter.BeginCollection("TJobList"), EInvalidOperation);  // one root element
  ASSERT_TRUE(LWriter.SaveToFile(FFile));
  const TJobList LLoaded = LoadJobs(FFile);

  ASSERT_EQ(LLoaded.size(), LJobs.size());
  for (std::size_t I = 0; I < LJobs.size(); ++I) {
    SCOPED_TRACE(LJobs[I]->GetIdentifier());
    EXPECT_EQ(LLoaded[I]->ClassName(), LJobs[I]->ClassName());
    EXPECT_TRUE(LLoaded[I]->DataEquals(*LJobs[I])) << ObjectToXml(*LLoaded[I]) << "\n---\n"
                                                   << ObjectToXml(*LJobs[I]);
  }
  EXPECT_EQ(LLoaded[0]->GetStartCondition()->GetStorages()->size(), LConditionKinds.size());
  EXPECT_EQ(LLoaded.back()->GetJobAction(), nullptr);
  EXPECT_THROW(CreateXmlSerializer("TJsonSerializer"), EClassNotFound);
}

// Documents that are not XML at all are the corpus's "bad-" files; here what only a reader of a
// named collection refuses, and what is no file.
TEST_F(XmlSerializerTest, WrongRootMissingFileAndDirectoryRaiseXmlReadError) {
  std::ofstream(FFile)
      << "<?xml version=\"1.0\"?><TStartConditionStorageList><TJob/></TStartConditionStorageList>";
  EXPECT_THROW(LoadJobs(FFile), EXmlReadError);
  EXPECT_THROW(LoadJobs(FDir.Path() + "/missing.xml"), EXmlReadError);
  EXPECT_THROW(LoadJobs(FDir.Path()), EXmlReadError);  // a directory
}

// Bytes that are not UTF-8 make a document as unusable as broken XML, unless the reader asks for
// them to be repaired: then each ill-formed sequence becomes one U+FFFD, wherever it stands. Stray
// bytes and surrogates are in the repaired fixture (tests/fixtures/xml/InvalidUtf8.xml).
TEST_F(XmlSerializerTest, InvalidUtf8IsRefusedOrEachSequenceReplacedWithOneReplacementCharacter) {
  const std::string R = "\xEF\xBF\xBD";
  const std::vector<std::tuple<std::string, std::string, int32_t>> LCases = {
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0},
      {"\xC0\xAF|\xE0\x80\xAF", R + R + "|" + R + R + R, 5},  // overlong forms
      {"\xF4\x90\x80\x80", R + R + R + R, 4},                 // beyond U+10FFFF
      {"\xE2\x82 \xF0\x9F\x98", R + " " + R, 2},              // cut short
  };
  for (const auto& [LText, LRepaired, LCount] : LCases) {
    SCOPED_TRACE(LRepaired);
    const std::string LXml = "<TJobList><TJob><DisplayText>" + LText + "</DisplayText></TJob></TJobList>";
    TXmlSerializer LStrict;
    if (LCount == 0)
      EXPECT_NO_THROW(LStrict.LoadFromXml(LXml));
    else
      EXPECT_THROW(LStrict.LoadFromXml(LXml), EXmlReadError);
    TXmlSerializer LRepairing;
    LRepairing.SetRepairsInvalidUtf8(true);
    LRepairing.LoadFromXml(LXml);
    EXPECT_EQ(LRepairing.GetRepairedUtf8Count(), LCount);
    EXPECT_EQ(LRepairing.ReadRoot().Children.at(0).Children.at(0).Text, LRepaired);
  }
  TXmlSerializer LRepairing;
  LRepairing.SetRepairsInvalidUtf8(true);
  LRepairing.LoadFromXml("<TJobList><N\xFF Class=\"T\xFE\"/></TJobList>");
  EXPECT_EQ(LRepairing.GetRepairedUtf8Count(), 2);
  EXPECT_EQ(LRepairing.ReadRoot().Children.at(0).Name, "N" + R);
  EXPECT_EQ(LRepairing.ReadRoot().Children.at(0).ClassName, "T" + R);
}

}  // namespace
}  // namespace Orvane
