#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "../../../fuzz/ManualJobFileCheck.h"
#include "FileJobListTestKit.h"
#include "Support/ClockScope.h"

namespace Orvane {
namespace {

// Every file of the manual-job fuzzer's corpus, through both loaders, with the fuzzer's checks. The
// file names say what to expect besides: "valid-" files load (perhaps skipping items, with errors),
// "bad-" files cannot be read at all and yield nothing; other files (inputs the fuzzer found) only
// have to pass the checks.
class FileJobListCorpusTest : public Testing::TFileJobListFixture {
protected:
  // Loads of a file that leaves out a delay condition's creation moment agree only while the clock
  // stands still.
  Testing::TManualClockScope FClock;
};

TEST_F(FileJobListCorpusTest, EveryCorpusFileLoadsThroughBothLoadersAndSavesBackUnchanged) {
  std::vector<std::filesystem::path> LFiles;
  for (const auto& LEntry : std::filesystem::directory_iterator(ORVANE_MANUAL_JOB_CORPUS_DIR))
    if (LEntry.is_regular_file()) LFiles.push_back(LEntry.path());
  std::sort(LFiles.begin(), LFiles.end());
  ASSERT_GE(LFiles.size(), 10u) << "the corpus lies in " << ORVANE_MANUAL_JOB_CORPUS_DIR;

  for (const std::filesystem::path& LFile : LFiles) {
    const std::string LName = LFile.filename().string();
    SCOPED_TRACE(LName);
    FLog->Clear();

    const Fuzzing::TManualJobFileResult LResult =
        Fuzzing::CheckManualJobFile(FPathProvider, Testing::ReadFile(LFile));

    EXPECT_EQ(LResult.Mismatch, "");
    const int LFailedLoads = FLog->Count(TLogEntryKind::Message, "Failed to load queued manual jobs");
    if (LName.starts_with("valid-")) {
      EXPECT_EQ(LFailedLoads, 0);
    } else if (LName.starts_with("bad-")) {
      // Both loaders fail; the list saved afterwards is empty and reads back.
      EXPECT_EQ(LFailedLoads, 2);
      EXPECT_EQ(LResult.JobCount, 0u);
      EXPECT_EQ(FLog->Count(TLogEntryKind::Exception), 2);
    }
  }
}

}  // namespace
}  // namespace Orvane
