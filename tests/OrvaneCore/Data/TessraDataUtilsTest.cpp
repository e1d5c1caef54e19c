#include <gtest/gtest.h>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/TessraDataUtils.h"

namespace Orvane {
namespace {

TJobPtr Job(const std::string& AIdentifier) {
  auto LJob = std::make_shared<TJob>();
  LJob->SetIdentifier(AIdentifier);
  return LJob;
}

// Both skip empty entries.
TEST(TessraDataUtilsTest, IndexesJobsByUpperCasedIdentifierAndRaisesOnTwoThatDifferOnlyInCase) {
  const TJobList LJobs = {Job("{ab-1}"), nullptr, Job("{CD-2}")};
  const TJobIndex LIndex = TTessraDataUtils::CreateJobIndex(LJobs);
  ASSERT_EQ(LIndex.size(), 2u);
  EXPECT_EQ(LIndex.at("{AB-1}"), LJobs[0]);
  EXPECT_EQ(LIndex.at("{CD-2}"), LJobs[2]);
  try {
    TTessraDataUtils::CreateJobIndex({Job("{ab-1}"), Job("{X}"), Job("{AB-1}")});
    ADD_FAILURE() << "no exception";
  } catch (const EListError& E) {
    EXPECT_NE(std::string(E.what()).find("{AB-1}"), std::string::npos) << E.what();
  }
  std::vector<std::string> LIdentifiers = {"{KEPT}"};
  TTessraDataUtils::AddIdentifiers(LJobs, LIdentifiers);
  EXPECT_EQ(LIdentifiers, (std::vector<std::string>{"{KEPT}", "{ab-1}", "{CD-2}"}));
}

}  // namespace
}  // namespace Orvane
