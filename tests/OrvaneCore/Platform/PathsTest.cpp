#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// The message of the EFileError that GetCommonAppDataDir raises, or "" when it raises none.
[[maybe_unused]] std::string RefusalOf(const std::string& APath) {
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
#ifdef _WIN32
  GTEST_SKIP() << "mode bits and owners (linux-only)";
#else
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
#endif
}

TEST_F(PathsTest, DataDirFallsBackToXdgDataHome) {
#ifdef _WIN32
  // Windows: the machine-wide application data folder, created when missing.
  TEnvScope LOverride("ORVANE_COMMON_APPDATA", "");
  const std::string LDir = GetCommonAppDataDir();
  EXPECT_TRUE(LDir.ends_with("/ProgramData/tessra-agent")) << LDir;
  EXPECT_TRUE(DirectoryExists(LDir));
#else
  if (geteuid() == 0) GTEST_SKIP() << "root uses /var/lib/tessra-agent";
  TEnvScope LOverride("ORVANE_COMMON_APPDATA", "");
  TEnvScope LXdg("XDG_DATA_HOME", FTemp.Path().c_str());
  EXPECT_EQ(GetCommonAppDataDir(), FTemp.Path() + "/tessra-agent");
#endif
}

}  // namespace
}  // namespace Orvane
