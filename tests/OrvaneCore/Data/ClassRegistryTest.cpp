#include "OrvaneCore/Data/ClassRegistry.h"

#include <gtest/gtest.h>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {
namespace {

TEST(ClassRegistryTest, NameCreatesThatClass) {
  for (const char* LName : {"TJob", "TScannerJobAction", "TFileScannerJobAction", "TStartConditionOnDelay",
                            "TStartConditionStorage", "TStartConditionFacade"}) {
    const auto LObject = TClassRegistry::Instance().Create(LName);
    ASSERT_NE(LObject, nullptr) << LName;
    EXPECT_EQ(LObject->ClassName(), LName);
  }
}

TEST(ClassRegistryTest, UnknownAndAbstractNamesAreReported) {
  EXPECT_EQ(TClassRegistry::Instance().Create("TNoSuchClass"), nullptr);
  EXPECT_EQ(TClassRegistry::Instance().Create("TStartCondition"), nullptr);  // abstract
  try {
    TClassRegistry::Instance().CreateOrRaise("TNoSuchClass");
    FAIL() << "no exception";
  } catch (const EClassNotFound& E) {
    EXPECT_NE(std::string(E.what()).find("TNoSuchClass"), std::string::npos);
  }
}

TEST(ClassRegistryTest, DescendantTestFollowsTheParentChain) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  EXPECT_TRUE(LRegistry.InheritsFrom("TFileScannerJobAction", "TScannerJobAction"));
  EXPECT_TRUE(LRegistry.InheritsFrom("TFileScannerJobAction", "TJobAction"));
  EXPECT_TRUE(LRegistry.InheritsFrom("TScannerJobAction", "TScannerJobAction"));
  EXPECT_FALSE(LRegistry.InheritsFrom("TJobAction", "TScannerJobAction"));
  EXPECT_FALSE(LRegistry.InheritsFrom("TJob", "TJobAction"));
  EXPECT_FALSE(LRegistry.InheritsFrom("TNoSuchClass", "TTessraData"));
  EXPECT_TRUE(LRegistry.InheritsFrom("TStartConditionOnDelay", "TStartCondition"));
  EXPECT_EQ(LRegistry.ParentOf("TAviraScannerJobAction"), "TScannerJobAction");
}

}  // namespace
}  // namespace Orvane
