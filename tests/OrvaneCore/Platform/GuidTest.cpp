#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

#include "OrvaneCore/Platform/Guid.h"

namespace Orvane {
namespace {

TEST(GuidTest, NewGuidsAreUpperCaseVersion4AndUnique) {
  constexpr int CCount = 10000;
  std::unordered_set<std::string> LSeen;
  for (int LIndex = 0; LIndex < CCount; ++LIndex) {
    std::string LGuid = CreateGuidString();
    ASSERT_EQ(LGuid.size(), 38u) << LGuid;
    ASSERT_TRUE(IsGuidString(LGuid)) << LGuid;
    for (char LChar : LGuid) ASSERT_FALSE(LChar >= 'a' && LChar <= 'f') << LGuid;
    ASSERT_EQ(LGuid[15], '4') << LGuid;                                          // version
    ASSERT_NE(std::string("89AB").find(LGuid[20]), std::string::npos) << LGuid;  // variant
    LSeen.insert(LGuid);
  }
  EXPECT_EQ(LSeen.size(), static_cast<std::size_t>(CCount));
}

TEST(GuidTest, RecognisesOnlyTheBraceForm) {
  EXPECT_TRUE(IsGuidString("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));  // any version, any case
  EXPECT_FALSE(IsGuidString("6F9619FF-8B86-D011-B42D-00C04FC964FF"));
  EXPECT_FALSE(IsGuidString("{6F9619FF-8B86-D011-B42D-00C04FC964FG}"));
  EXPECT_FALSE(IsGuidString("{6F9619FF8-B86-D011-B42D-00C04FC964FF}"));
  EXPECT_FALSE(IsGuidString(""));
}

}  // namespace
}  // namespace Orvane
