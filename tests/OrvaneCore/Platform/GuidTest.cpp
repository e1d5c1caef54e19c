#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <unordered_set>

#include "OrvaneCore/Platform/Guid.h"

namespace Orvane {
namespace {

TEST(GuidTest, NewGuidsAreUniqueUpperCaseVersion4InBracesAndOnlyThatFormIsRecognised) {
  std::unordered_set<std::string> LSeen;
  const std::regex LForm("\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  for (int LIndex = 0; LIndex < 10000; ++LIndex) {
    const std::string LGuid = CreateGuidString();
    ASSERT_TRUE(IsGuidString(LGuid) && std::regex_match(LGuid, LForm) && LSeen.insert(LGuid).second) << LGuid;
  }
  EXPECT_TRUE(IsGuidString("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));  // any version, any case
  for (const char* LText : {"6F9619FF-8B86-D011-B42D-00C04FC964FF", "{6F9619FF-8B86-D011-B42D-00C04FC964FG}",
                            "{6F9619FF8-B86-D011-B42D-00C04FC964FF}", ""})
    EXPECT_FALSE(IsGuidString(LText)) << LText;
}

}  // namespace
}  // namespace Orvane
