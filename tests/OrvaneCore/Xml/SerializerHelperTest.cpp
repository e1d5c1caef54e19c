#include "OrvaneCore/Xml/SerializerHelper.h"

#include <gtest/gtest.h>

#include "OrvaneCore/Jobs/Job.h"

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

TEST(SerializerHelperTest, ItemsOfDescendantClassesAreMadeThroughTheClassRegistry) {
  EXPECT_EQ(TClassRegistry::Instance().ParentOf("TSpecialJob"), "TJob");
  TSpecialJob LSpecial;
  LSpecial.Extra = "kept";
  TJob LPlain;
  TXmlSerializer LWriter;
  LWriter.BeginCollection("TJobList");
  LWriter.WriteObject(LPlain);
  LWriter.WriteObject(LSpecial);
  LWriter.EndCollection("TJobList");

  TXmlSerializer LReader;
  LReader.LoadFromXml(LWriter.GetXml());
  TJobList LJobs;
  int LMadeByFactory = 0;
  TAbstractSerializerHelper::InternalDeserialize<TJob>(LReader, LJobs, "TJobList", "TJob", [&] {
    ++LMadeByFactory;
    return std::make_shared<TJob>();
  });
  ASSERT_EQ(LJobs.size(), 2u);
  EXPECT_EQ(LMadeByFactory, 1);
  EXPECT_TRUE(LJobs[0]->DataEquals(LPlain));
  EXPECT_TRUE(LJobs[1]->DataEquals(LSpecial));
}

}  // namespace
}  // namespace Orvane
