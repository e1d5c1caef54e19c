#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../../../fuzz/ConditionStorageFileCheck.h"
#include "OrvaneCore/Logging/LogSink.h"
#include "Support/TempDir.h"

namespace Orvane {
namespace {

// Every file of the condition-storage fuzzer's corpus (the seeds and what fuzzing added) passes the
// fuzzer's checks in the ordinary build as well.
TEST(FileStartConditionStorageManagerCorpusTest, EveryCorpusFilePassesTheFuzzChecks) {
  RemoveAllLogSinks();
  // An absolute path from the build: a compiler cache may hand the compiler relative file names.
  const std::filesystem::path LCorpus = ORVANE_CONDITION_STORAGE_CORPUS_DIR;
  ASSERT_TRUE(std::filesystem::is_directory(LCorpus)) << LCorpus;
  Testing::TTempDir LDir("orvane-condstore-corpus");
  ASSERT_FALSE(LDir.Path().empty());

  int LFiles = 0;
  std::size_t LKeys = 0;
  for (const std::filesystem::directory_entry& LEntry : std::filesystem::directory_iterator(LCorpus)) {
    if (!LEntry.is_regular_file()) continue;
    std::ifstream LFile(LEntry.path(), std::ios::binary);
    std::stringstream LContent;
    LContent << LFile.rdbuf();
    const Fuzzing::TConditionStorageFileResult LResult =
        Fuzzing::CheckConditionStorageFile(LDir.Path() + "/ConditionStorage.xml", LContent.str());
    EXPECT_EQ(LResult.Mismatch, "") << LEntry.path().filename();
    LKeys += LResult.KeyCount;
    ++LFiles;
  }
  EXPECT_GE(LFiles, 9);
  EXPECT_GT(LKeys, 0u);
}

}  // namespace
}  // namespace Orvane
