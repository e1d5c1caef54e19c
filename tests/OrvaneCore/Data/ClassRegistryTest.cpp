#include "OrvaneCore/Data/ClassRegistry.h"

#include <gtest/gtest.h>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Conditions/StartCondition.h"
#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {
namespace {

// Which names are creatable is shown by the XML round trip of every kind; here the parent chain
// and the refusals.
TEST(ClassRegistryTest, DescendantTestFollowsTheParentChainAndUnknownNamesAreReported) {
  const TClassRegistry& LRegistry = TClassRegistry::Instance();
  EXPECT_TRUE(LRegistry.InheritsFrom("TFileScannerJobAction", "TJobAction"));
  EXPECT_TRUE(LRegistry.InheritsFrom("TScannerJobAction", "TScannerJobAction"));
  EXPECT_FALSE(LRegistry.InheritsFrom("TJobAction", "TScannerJobAction"));
  EXPECT_FALSE(LRegistry.InheritsFrom("TJob", "TJobAction"));
  EXPECT_FALSE(LRegistry.InheritsFrom("TNoSuchClass", "TTessraData"));
  EXPECT_EQ(LRegistry.ParentOf("TAviraScannerJobAction"), "TScannerJobAction");
  EXPECT_EQ(LRegistry.Create("TStartCondition"), nullptr);  // abstract
  try {
    LRegistry.CreateOrRaise("TNoSuchClass");
    FAIL() << "no exception";
  } catch (const EClassNotFound& E) {
    EXPECT_NE(std::string(E.what()).find("TNoSuchClass"), std::string::npos);
  }
}

}  // namespace
}  // namespace Orvane
