#include <gtest/gtest.h>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Xml/SerializerHelper.h"

namespace Orvane {
namespace {

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

class SerializerHelperTest : public ::testing::Test {
protected:
  void SetUp() override {
    RemoveAllLogSinks();
    FLog = std::make_shared<TRecordingLogSink>();
    AddLogSink(FLog);
  }
  void TearDown() override { RemoveAllLogSinks(); }

  TJobList Read(const std::string& AXml) {
    TXmlSerializer LSerializer;
    LSerializer.LoadFromXml(AXml);
    TJobList LJobs;
    FMadeByFactory = 0;
    TAbstractSerializerHelper::InternalDeserialize<TJob>(LSerializer, LJobs, "TJobList", "TJob", [this] {
      ++FMadeByFactory;
      return std::make_shared<TJob>();
    });
    return LJobs;
  }

  std::shared_ptr<TRecordingLogSink> FLog;
  int FMadeByFactory = 0;
};

TEST_F(SerializerHelperTest, ItemsOfUnknownClassesAreSkippedWithAnErrorAndLaterItemsLoad) {
  const TJobList LJobs = Read(R"(<TJobList>
    <TJob><Identifier>A</Identifier></TJob>
    <TNoSuchJob><Identifier>X</Identifier></TNoSuchJob>
    <TStartConditionStorage><Name>not a job</Name></TStartConditionStorage>
    <TJob><Identifier>B</Identifier><Order>first</Order></TJob>
    <TJob>
      <Identifier>C</Identifier>
      <StartCondition Class="TStartConditionFacade">
        <Conditions>
          <Item Class="TNoSuchCondition"><Enabled>true</Enabled></Item>
          <Item Class="TStartConditionOnDelay"><DelayValue>5</DelayValue></Item>
        </Conditions>
      </StartCondition>
    </TJob>
    <TJob><Identifier>D</Identifier></TJob>
  </TJobList>)");

  ASSERT_EQ(LJobs.size(), 3u);
  EXPECT_EQ(LJobs[0]->GetIdentifier(), "A");
  EXPECT_EQ(LJobs[1]->GetIdentifier(), "C");
  EXPECT_EQ(LJobs[2]->GetIdentifier(), "D");
  ASSERT_EQ(LJobs[1]->GetStartCondition()->GetConditions().size(), 1u);
  EXPECT_EQ(LJobs[1]->GetStartCondition()->GetConditions()[0]->ClassName(), "TStartConditionOnDelay");
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Error, "\"TNoSuchJob\""));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Error, "\"TStartConditionStorage\""));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Error, "'first'"));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Error, "\"TNoSuchCondition\""));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Error), 4);
}

TEST_F(SerializerHelperTest, ItemsOfDescendantClassesAreMadeThroughTheClassRegistry) {
  TSpecialJob LSpecial;
  LSpecial.SetIdentifier("S");
  LSpecial.Extra = "kept";
  TJob LPlain;
  LPlain.SetIdentifier("P");
  TXmlSerializer LWriter;
  LWriter.BeginCollection("TJobList");
  LWriter.WriteObject(LPlain);
  LWriter.WriteObject(LSpecial);
  LWriter.EndCollection("TJobList");

  const TJobList LJobs = Read(LWriter.GetXml());
  ASSERT_EQ(LJobs.size(), 2u);
  EXPECT_EQ(FMadeByFactory, 1);
  EXPECT_TRUE(LJobs[0]->DataEquals(LPlain));
  EXPECT_TRUE(LJobs[1]->DataEquals(LSpecial));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Error), 0);
}

TEST_F(SerializerHelperTest, AnEmptyCollectionYieldsNoItems) {
  EXPECT_TRUE(Read("<TJobList/>").empty());
  EXPECT_TRUE(Read("<TJobList>\n  \n</TJobList>").empty());
}

}  // namespace
}  // namespace Orvane
