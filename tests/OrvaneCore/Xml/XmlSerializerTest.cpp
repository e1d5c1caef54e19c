#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "OrvaneCore/Xml/XmlWriter.h"
#include "Support/ClockScope.h"
#include "Support/FileText.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"

// Records are written straight from their description and read straight from the parsed
// document; the tree of texts (TDataNode) stays as the reference of what reading means.
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

// Every record class round-trips member by member in the record copy test; here a list through a
// file, a descendant's item read as itself.
TEST_F(XmlSerializerTest, JobListRoundTripsThroughAFileWithADescendantReadAsItself) {
  auto LJob = std::make_shared<TJob>();
  auto LAction = std::make_shared<TFileScannerJobAction>();
  LAction->Paths = {"/srv", "/home"};
  LJob->SetJobAction(LAction);
  LJob->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnDelay>());
  auto LSpecial = std::make_shared<TSpecialJob>();
  LSpecial->Extra = "kept";
  const TJobList LJobs = {LJob, LSpecial};

  TXmlSerializer LWriter;
  LWriter.BeginCollection("TJobList");
  for (const TJobPtr& J : LJobs) LWriter.WriteObject(*J);
  EXPECT_THROW(LWriter.EndCollection("TJob"), EInvalidOperation);  // not the collection open
  LWriter.EndCollection("TJobList");
  EXPECT_THROW(LWriter.BeginCollection("TJobList"), EInvalidOperation);  // one root element
  ASSERT_TRUE(LWriter.SaveToFile(FFile));
  const TJobList LLoaded = LoadJobs(FFile);

  ASSERT_EQ(LLoaded.size(), LJobs.size());
  for (std::size_t I = 0; I < LJobs.size(); ++I)  // of the same class, too
    EXPECT_TRUE(LLoaded[I]->DataEquals(*LJobs[I])) << ObjectToXml(*LLoaded[I]);
  EXPECT_EQ(LLoaded[0]->GetStartCondition()->GetStorages()->size(), 1u);
  EXPECT_THROW(CreateXmlSerializer("TJsonSerializer"), EClassNotFound);
}

// Documents that are not XML at all are the corpus's "bad-" files; here what only a reader of a
// named collection refuses, and what is no file.
TEST_F(XmlSerializerTest, WrongRootMissingFileAndDirectoryRaiseXmlReadError) {
  Testing::WriteFile(
      FFile, "<?xml version=\"1.0\"?><TStartConditionStorageList><TJob/></TStartConditionStorageList>");
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
      {"<D>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80</D>", "D  caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", 0},
      {"<D>\xC0\xAF|\xE0\x80\xAF</D>", "D  " + R + R + "|" + R + R + R, 5},  // overlong forms
      {"<D>\xF4\x90\x80\x80</D>", "D  " + R + R + R + R, 4},                 // beyond U+10FFFF
      {"<D>\xE2\x82 \xF0\x9F\x98</D>", "D  " + R + " " + R, 2},              // cut short
      {"<N\xFF Class=\"T\xFE\"/>", "N" + R + " T" + R + " ", 2},             // in a name and an attribute
  };
  for (const auto& [LElement, LRepaired, LCount] : LCases) {
    SCOPED_TRACE(LRepaired);
    const std::string LXml = "<TJobList>" + LElement + "</TJobList>";
    TXmlSerializer LStrict;
    if (LCount == 0)
      EXPECT_NO_THROW(LStrict.LoadFromXml(LXml));
    else
      EXPECT_THROW(LStrict.LoadFromXml(LXml), EXmlReadError);
    TXmlSerializer LRepairing;
    LRepairing.SetRepairsInvalidUtf8(true);
    LRepairing.LoadFromXml(LXml);
    EXPECT_EQ(LRepairing.GetRepairedUtf8Count(), LCount);
    const TDataNode LNode = LRepairing.ReadRoot().Children.at(0);
    EXPECT_EQ(LNode.Name + " " + LNode.ClassName + " " + LNode.Text, LRepaired);
  }
}

// What one way of reading a document gave: the conversion error, the errors logged, the job.
template <class TRead>
std::string ReadJob(const std::string& AXml, TRead ARead) {
  Testing::TLogCapture LLog;
  TXmlSerializer LReader;
  LReader.LoadFromXml(AXml);
  TJob LJob;
  LJob.SetDisplayText("kept when missing");
  std::string LResult;
  try {
    ARead(LReader, LJob);
  } catch (const EConvertError& E) {
    LResult = "raised: " + E.Message() + "\n";
  }
  for (const std::string& LText : LLog->Texts(TLogEntryKind::Error)) LResult += "logged: " + LText + "\n";
  return LResult + ObjectToXml(LJob);
}

TEST(XmlStreamingTest, ReadingFromTheDocumentAgreesWithReadingThroughTheTreeOfTexts) {
  const std::vector<std::string> LBodies = {
      "<Order>1</Order><Order>2</Order><Identifier>{A}</Identifier>",
      "<Identifier>{B}</Identifier><Order>5</Order><Identifier>{C}</Identifier>",
      "<DisplayText><X>inner</X></DisplayText><IsManual>1</IsManual>",
      "<DisplayText>a<![CDATA[<b>]]>c<!-- note -->d</DisplayText><DisplayText>second</DisplayText>",
      "<DisplayText> </DisplayText><NextExecution>4.6e4</NextExecution><ExecState>255</ExecState>",
      "<JobAction Class=\"TNoSuchAction\"><AgentTaskId>x</AgentTaskId></JobAction>",
      "<JobAction Class=\"TStartConditionStorage\" />",
      "<JobAction Class=\"\"><AgentTaskId>x</AgentTaskId></JobAction>",
      "<JobAction Class=\"TFileScannerJobAction\"><Paths><Item>a</Item><Other>b</Other><Item><X/></Item>"
      "</Paths><AgentTaskId>{T}</AgentTaskId></JobAction>",
      "<StartCondition Class=\"TStartConditionFacade\"><Conditions><Item>no class</Item>"
      "<Item Class=\"TStartConditionOnDelay\"><DelayValue>7</DelayValue></Item>"
      "<Item Class=\"TJob\" /></Conditions></StartCondition>",
      "<Order>x</Order>",
      "<ExecState>256</ExecState>",
      "<IsManual>yes</IsManual>",
      "<NextExecution>soon</NextExecution>",
      "<StartCondition Class=\"TStartConditionFacade\"><Storages><Item Class=\"TStartConditionStorage\">"
      "<LastRun>1e999</LastRun></Item></Storages></StartCondition>",
  };
  Testing::TManualClockScope LClock;  // new delay conditions take the same creation time
  for (const std::string& LBody : LBodies) {
    SCOPED_TRACE(LBody);
    const std::string LXml = "<TJob>" + LBody + "</TJob>";
    EXPECT_EQ(
        ReadJob(LXml, [](TXmlSerializer& AReader, TJob& AJob) { ASSERT_TRUE(AReader.ReadObject(AJob)); }),
        ReadJob(LXml, [](TXmlSerializer& AReader, TJob& AJob) { NodeToRecord(AReader.ReadRoot(), AJob); }));
  }
}

// The check for UTF-8 goes by blocks of bytes; every length of a last block, with and without a
// character that is not ASCII, and a broken one at the very end.
TEST(XmlStreamingTest, TextsOfEveryLengthAreCheckedForUtf8ToTheirLastByte) {
  for (std::size_t LPadding = 0; LPadding < 70; ++LPadding) {
    for (const std::string& LText : {std::string("plain"), std::string("\xC3\xA4"), std::string("x\xC3")}) {
      SCOPED_TRACE(std::to_string(LPadding) + LText);
      TXmlSerializer LReader;
      LReader.SetRepairsInvalidUtf8(true);
      LReader.LoadFromXml("<R>" + std::string(LPadding, ' ') + LText + "</R>");
      EXPECT_EQ(LReader.GetRepairedUtf8Count(), LText == "x\xC3" ? 1 : 0);
      EXPECT_EQ(LReader.ReadRoot().Text.size(), LPadding + (LText == "x\xC3" ? 4 : LText.size()));
    }
  }
}

// As deep as ReadCollection reads: 128 levels below the collection, counting the items.
TEST(XmlStreamingTest, ItemsNestedTooDeepRaiseBeforeAnyItemIsRead) {
  for (const int LLevels : {126, 127}) {
    SCOPED_TRACE(LLevels);
    std::string LNested;
    for (int I = 0; I < LLevels; ++I) LNested = "<N>" + LNested + "</N>";
    TXmlSerializer LReader;
    LReader.LoadFromXml("<TJobList><TJob /><TJob><X>" + LNested + "</X></TJob></TJobList>");
    int LItems = 0;
    const auto LRead = [&] { LReader.ReadItems("TJobList", [&LItems](const TXmlItem&) { ++LItems; }); };
    if (LLevels == 126) {
      LRead();
      LReader.CheckNesting();
    } else {
      EXPECT_THROW(LRead(), EXmlReadError);
      EXPECT_THROW(LReader.CheckNesting(), EXmlReadError);
      EXPECT_THROW(LReader.ReadCollection("TJobList"), EXmlReadError);
    }
    EXPECT_EQ(LItems, LLevels == 126 ? 2 : 0);
  }
}

// A new delay condition takes the time of its making; the member is left out only while that
// time has not passed.
TEST(XmlStreamingTest, SmartSerializerLeavesOutWhatANewObjectHasAtTheMomentOfWriting) {
  Testing::TManualClockScope LClock;
  const auto JobWithDelay = [] {
    auto LJob = std::make_shared<TJob>();
    LJob->GetStartCondition()->AddCondition(std::make_shared<TStartConditionOnDelay>());
    return LJob;
  };
  const TJobPtr LBefore = JobWithDelay();
  TSmartXmlSerializer LWriter;
  LWriter.BeginCollection("Wire");
  LWriter.WriteObject(*LBefore);
  Clock().AdvanceSeconds(60);
  LWriter.WriteObject(*LBefore);
  LWriter.WriteObject(*JobWithDelay());
  const std::string LXml = LWriter.GetXml();
  const std::string LCondition = "<Item Class=\"TStartConditionOnDelay\"";
  std::vector<bool> LWritten;  // whether each delay condition has its <Created>
  for (std::size_t LAt = LXml.find(LCondition), LNext = 0; LAt != std::string::npos; LAt = LNext) {
    LNext = LXml.find(LCondition, LAt + 1);
    LWritten.push_back(LXml.substr(LAt, LNext - LAt).find("<Created>") != std::string::npos);
  }
  EXPECT_EQ(LWritten, (std::vector<bool>{false, true, false})) << LXml;
}

TEST(XmlStreamingTest, WrittenDocumentClosesOpenCollectionsAndIsNotMixedWithALoadedOne) {
  TXmlSerializer LWriter;
  LWriter.BeginCollection("Root");
  LWriter.BeginCollection("Empty");
  EXPECT_EQ(LWriter.GetXml(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root>\n  <Empty />\n</Root>\n");
  LWriter.LoadFromXml("<Root><A/><B><C/></B></Root>");
  EXPECT_EQ(LWriter.GetXml(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<Root>\n  <A />\n  <B>\n    <C />\n  </B>\n</Root>\n");
  EXPECT_THROW(LWriter.BeginCollection("More"), EInvalidOperation);
}

// Both layouts are proved byte for byte by the XML fixture tests.
TEST(XmlWriterTest, EscapesTextsAndValuesAndEndsThemAtNul) {
  const std::string LText = std::string("a&b<c>d\"e'f\tg\nh\ri\x01j\x1F") + std::string("k\0lost", 6);
  TXmlWriter LWriter(false);
  LWriter.BeginElement("E");
  LWriter.Attribute("A", LText);
  LWriter.Text(LText);
  EXPECT_THROW(LWriter.Attribute("Late", "x"), EInvalidOperation);  // content is never mixed
  LWriter.EndElement();
  LWriter.BeginElement("Z");
  LWriter.Text(std::string("\0x", 2));  // a text, though an empty one
  LWriter.EndElement();
  EXPECT_EQ(LWriter.Written(),
            "<E A=\"a&amp;b&lt;c>d&quot;e'f&#09;g&#10;h&#13;i&#01;j&#31;k\">"
            "a&amp;b&lt;c&gt;d\"e'f\tg\nh\ri&#01;j&#31;k</E><Z></Z>");
}

}  // namespace
}  // namespace Orvane
