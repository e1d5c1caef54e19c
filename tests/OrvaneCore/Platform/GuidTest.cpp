#include <gtest/gtest.h>

#include "OrvaneCore/Platform/Guid.h"

namespace Orvane {
namespace {

TEST(GuidTest, NewGuidsAreDistinctUpperCaseVersion4AndOnlyThatFormIsRecognised) {
  const std::string LGuid = CreateGuidString();
  EXPECT_TRUE(IsGuidString(LGuid) && LGuid[15] == '4' && LGuid.find_first_of("abcdef") == std::string::npos &&
              LGuid != CreateGuidString())
      << LGuid;
  EXPECT_TRUE(IsGuidString("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));  // any version, any case
  for (const char* LText : {"6F9619FF-8B86-D011-B42D-00C04FC964FF", "{6F9619FF-8B86-D011-B42D-00C04FC964FG}",
                            "{6F9619FF8-B86-D011-B42D-00C04FC964FF}", ""})
    EXPECT_FALSE(IsGuidString(LText)) << LText;
}

}  // namespace
}  // namespace Orvane
