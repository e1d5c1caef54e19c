#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "JobManagement/Storage/JobStoragePathProvider.Client.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "Support/EnvScope.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

TEST(JobStoragePathProviderTest, StoragePathIsDataDirProductDirAndActionSubDirectoryAndCreatesNothing) {
  Testing::TTempDir LData("orvane-storage");
  ASSERT_FALSE(LData.Path().empty());
  const std::string LExpected =
      LData.Path() + "/Orvane/Tessra" + "/" + TScannerJobAction::StorageSubDirectory();

  std::shared_ptr<IJobStoragePathProvider<TScannerJobAction>> LProvider;
  {
    // A trailing '/' on the data directory does not double the separator.
    Testing::TEnvScope LEnv("ORVANE_COMMON_APPDATA", (LData.Path() + "/").c_str());
    LProvider = std::make_shared<TJobStoragePathProvider<TScannerJobAction>>();
  }
  EXPECT_EQ(LProvider->GetStoragePath(), LExpected);

  // The untyped interface reaches the same object and text, and the text is fixed at construction
  // (the environment has been restored since).
  std::shared_ptr<IJobStoragePathProvider<>> LUntyped = LProvider;
  EXPECT_EQ(LUntyped->GetStoragePath(), LExpected);
  EXPECT_EQ(std::dynamic_pointer_cast<IJobStoragePathProvider<TScannerJobAction>>(LUntyped), LProvider);

  // Only composed: the writers create the directory.
  EXPECT_FALSE(std::filesystem::exists(LData.Path() + "/Orvane"));
  EXPECT_TRUE(std::filesystem::is_empty(LData.Path()));
}

}  // namespace
}  // namespace Orvane
