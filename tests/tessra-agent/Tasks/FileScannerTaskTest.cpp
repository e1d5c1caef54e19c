#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/FileText.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Tasks/FileScannerTask.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

class FileScannerTaskTest : public ::testing::Test {
protected:
  std::string WriteFile(const std::string& ARelative, const std::string& AContent) {
    const fs::path LPath = fs::path(FTree) / ARelative;
    fs::create_directories(LPath.parent_path());
    std::ofstream(LPath) << AContent;
    return LPath.string();
  }
  static std::shared_ptr<TFileScannerJobAction> ActionFor(std::vector<std::string> APaths) {
    auto LAction = std::make_shared<TFileScannerJobAction>();
    LAction->Paths = std::move(APaths);
    return LAction;
  }
  static std::vector<std::string> PathsOf(const TFileInventory& AInventory) {
    std::vector<std::string> LPaths;
    for (const auto& LFile : AInventory.Files) LPaths.push_back(LFile->Path);
    return LPaths;
  }
  std::vector<std::string> ResultFiles() const { return Testing::DirectoryEntries(FTask.GetResultDir()); }

  Testing::TTempDir FDir;
  std::string FTree = FDir.Path() + "/tree";
  Testing::TLogCapture FLog;
  TFileScannerTask FTask{FDir.Path() + "/data"};
};

TEST_F(FileScannerTaskTest, ListsRegularFilesInNameOrderWithoutFollowingLinksOrListingTwice) {
  const std::string LOne = WriteFile("a/one.txt", "hello");
  const std::string LTwo = WriteFile("a/sub/two.bin", "abc");
  const std::string LZero = WriteFile("b/zero", "");
  const timespec LTimes[2] = {{0, UTIME_OMIT}, {1614834367, 0}};  // 2021-03-04 05:06:07 UTC
  ASSERT_EQ(utimensat(AT_FDCWD, LOne.c_str(), LTimes, 0), 0);
  fs::create_directory_symlink(FTree, FTree + "/a/loop");
  fs::create_symlink(LOne, FTree + "/a/link-to-one");
  ASSERT_EQ(mkfifo((FTree + "/a/pipe").c_str(), 0600), 0);

  TFileInventory LInventory;
  EXPECT_EQ(FTask.Collect(LInventory, {FTree + "/", FTree + "/a/sub", LOne}, {}),
            TFileScannerTask::TOutcome::Complete);
  // The named file is listed again: only directories are recognised as seen.
  EXPECT_EQ(PathsOf(LInventory), (std::vector<std::string>{LOne, LTwo, LZero, LOne}));
  EXPECT_EQ(LInventory.Files[0]->SizeBytes, "5");
  EXPECT_EQ(LInventory.Files[0]->ModifiedUtc, "2021-03-04T05:06:07Z");
  EXPECT_EQ(LInventory.TotalBytes, "13");
}

// What Execute writes goes to the result sink, even for a failed run; what ScanOnly writes does not.
TEST_F(FileScannerTaskTest, FailedPathsAreRecordedAndFailTheRunWhileTheOthersAreStillWritten) {
  struct TRecordingSink final : IResultSink {
    std::vector<std::string> Results;
    void ResultWritten(const std::string& ATaskId, const std::string& AFile) override {
      Results.push_back(ATaskId + " " + AFile);
    }
  };
  const auto LSink = std::make_shared<TRecordingSink>();
  FTask.SetResultSink(LSink);
  const std::string LFile = WriteFile("x/found.txt", "1");
  const std::string LMissing = FDir.Path() + "/missing";
  EXPECT_FALSE(
      FTask.Execute("client-7", ActionFor({LMissing, "relative/dir", FTree + "/x"}), [] { return true; }));
  EXPECT_TRUE(FTask.ScanOnly(
      "client-7", ActionFor({FTree + "/x"}), [] { return true; }, FDir.Path() + "/scan-only"));

  const std::vector<std::string> LFiles = ResultFiles();
  ASSERT_EQ(LFiles.size(), 1u);
  const std::string LResult = FTask.GetResultDir() + "/" + LFiles[0];
  EXPECT_EQ(LSink->Results, std::vector<std::string>{std::string(CFileScannerId) + " " + LResult});
  TXmlSerializer LReader;
  LReader.LoadFromFile(LResult);
  const TDataNode LRoot = LReader.ReadRoot();
  EXPECT_EQ(LRoot.Find("Files")->Children.at(0).Find("Path")->Text, LFile);
  const TDataNode* LErrors = LRoot.Find("Errors");
  ASSERT_EQ(LErrors->Children.size(), 2u);
  EXPECT_EQ(LErrors->Children[0].Find("Reason")->Text, "No such file or directory");
  EXPECT_EQ(LErrors->Children[1].Find("Reason")->Text, "not an absolute path");

  // A job without paths fails without a result.
  EXPECT_FALSE(FTask.Execute("client-7", std::make_shared<TScannerJobAction>(), [] { return true; }));
  EXPECT_FALSE(FTask.ScanOnly(
      "", ActionFor({}), [] { return true; }, FDir.Path() + "/none"));
  EXPECT_EQ(FLog->Count(TLogEntryKind::Error, "File Scanner: the job names no paths to scan"), 2);
  EXPECT_EQ(ResultFiles().size(), 1u);
  EXPECT_FALSE(fs::exists(FDir.Path() + "/none"));
}

TEST_F(FileScannerTaskTest, TheListingStopsAtItsLimitWithAWarning) {
  for (int I = 0; I < 5; ++I) WriteFile("many/f" + std::to_string(1000 + I), "");
  TFileInventory LInventory;
  EXPECT_EQ(TFileScannerTask(FDir.Path() + "/data", 3).Collect(LInventory, {FTree + "/many", FTree + "/many/f1000"}, {}),
            TFileScannerTask::TOutcome::Complete);
  EXPECT_EQ(PathsOf(LInventory),
            (std::vector<std::string>{FTree + "/many/f1000", FTree + "/many/f1001", FTree + "/many/f1002"}));
  EXPECT_TRUE(LInventory.LimitReached);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, "File Scanner: the listing stops at its limit of 3 files"),
            1);
}

}  // namespace
}  // namespace Orvane
