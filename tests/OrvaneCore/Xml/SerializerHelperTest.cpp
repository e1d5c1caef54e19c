#include <gtest/gtest.h>

#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Xml/SerializerHelper.h"
#include "Support/LogCapture.h"

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

  Testing::TLogCapture FLog;
  int FMadeByFactory = 0;
};

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

}  // namespace
}  // namespace Orvane
