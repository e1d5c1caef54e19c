#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Paths.h"
#include "Support/EnvScope.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

using Testing::TEnvScope;
using Testing::TTempDir;

mode_t ModeOf(const std::string& APath) {
  struct stat LInfo {};
  return stat(APath.c_str(), &LInfo) == 0 ? (LInfo.st_mode & 07777) : 0;
}

// The message of the EFileError that GetCommonAppDataDir raises, or "" when it raises none.
std::string RefusalOf(const std::string& APath) {
  TEnvScope LEnv("ORVANE_COMMON_APPDATA", APath.c_str());
  try {
    GetCommonAppDataDir();
  } catch (const EFileError& AError) {
    return AError.Message();
  }
  return "";
}

class PathsTest : public ::testing::Test {
protected:
  TTempDir FTemp;
};

TEST_F(PathsTest, UnsafeDataDirsAreRefusedByName) {
  const std::string LLoose = FTemp.Path() + "/loose";
  ASSERT_EQ(mkdir(LLoose.c_str(), 0700), 0);
  ASSERT_EQ(chmod(LLoose.c_str(), 0755), 0);
  EXPECT_EQ(RefusalOf(LLoose),
            "Data directory " + LLoose + " is accessible by other users (mode 0755); refusing to use it");

  const std::string LFile = FTemp.Path() + "/file";
  std::ofstream(LFile) << "x";
  EXPECT_EQ(RefusalOf(LFile), "Data directory " + LFile + " is not a directory; refusing to use it");

  if (geteuid() == 0) {
    const std::string LForeign = FTemp.Path() + "/foreign";
    ASSERT_EQ(mkdir(LForeign.c_str(), 0700), 0);
    ASSERT_EQ(chown(LForeign.c_str(), 65534, 65534), 0);
    EXPECT_NE(RefusalOf(LForeign).find("is owned by user 65534"), std::string::npos);
  }
}

TEST_F(PathsTest, DataDirFallsBackToXdgDataHome) {
  if (geteuid() == 0) GTEST_SKIP() << "root uses /var/lib/tessra-agent";
  TEnvScope LOverride("ORVANE_COMMON_APPDATA", "");
  TEnvScope LXdg("XDG_DATA_HOME", FTemp.Path().c_str());
  EXPECT_EQ(GetCommonAppDataDir(), FTemp.Path() + "/tessra-agent");
}

TEST_F(PathsTest, ForceDirectoriesAndExistenceChecks) {
  const std::string LDeep = FTemp.Path() + "/a//b/c";
  EXPECT_TRUE(ForceDirectories(LDeep, 0750));
  EXPECT_EQ(ModeOf(LDeep) & 0700, 0700u);
  EXPECT_TRUE(DirectoryExists(LDeep));
  EXPECT_FALSE(FileExists(LDeep));
  EXPECT_TRUE(ForceDirectories(LDeep + "/"));  // already there

  const std::string LFile = LDeep + "/file";
  std::ofstream(LFile) << "x";
  EXPECT_TRUE(FileExists(LFile));
  EXPECT_FALSE(DirectoryExists(LFile));
  const bool LMadeBelowFile = ForceDirectories(LFile + "/below");
  const int LError = errno;
  EXPECT_FALSE(LMadeBelowFile);
  EXPECT_EQ(LError, ENOTDIR);
}

TEST(PathNamesTest, SplitAndJoin) {
  EXPECT_EQ(ExtractFileDir("/a/b//c.txt"), "/a/b");
  EXPECT_EQ(ExtractFileDir("/c.txt"), "/");
  EXPECT_EQ(ExtractFileDir("c.txt"), "");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
}

}  // namespace
}  // namespace Orvane
