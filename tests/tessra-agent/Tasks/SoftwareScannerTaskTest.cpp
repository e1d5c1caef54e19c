#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Tasks/SoftwareScannerTask.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

class SoftwareScannerTaskTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FDir.Path().empty());
    std::ofstream(FStatusFile)
        << "Package: bash\nStatus: install ok installed\nVersion: 5.2-1\n\nPackage: broken\n\n"
           "Package: zsh\nStatus: install ok installed\nVersion: 5.9\n";
  }

  static std::vector<fs::path> FilesIn(const std::string& ADir) {
    std::vector<fs::path> LFiles;
    std::error_code LError;
    for (const auto& LEntry : fs::directory_iterator(ADir, LError)) LFiles.push_back(LEntry.path());
    return LFiles;
  }

  Testing::TTempDir FDir;
  std::string FStatusFile = FDir.Path() + "/status";
  Testing::TLogCapture FLog;
};

TEST_F(SoftwareScannerTaskTest, ExecuteLeavesTheInventoryInTheResultsDirectory) {
  TSoftwareScannerTask LTask(FDir.Path() + "/data", FStatusFile);
  EXPECT_EQ(GetAgentTaskName(LTask.GetAgentTaskId()), TSoftwareScannerTask::CTaskName);
  ASSERT_TRUE(LTask.Execute("client-7", nullptr, [] { return true; }));

  const std::vector<fs::path> LFiles = FilesIn(FDir.Path() + "/data/results/Software Scanner");
  ASSERT_EQ(LFiles.size(), 1u);
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Software Scanner result: " + LFiles[0].string()));
  TXmlSerializer LReader;
  LReader.LoadFromFile(LFiles[0]);
  const TDataNode LRoot = LReader.ReadRoot();
  EXPECT_EQ(LRoot.Name, "TSoftwareInventory");
  EXPECT_EQ(LRoot.Find("ClientId")->Text, "client-7");
  EXPECT_EQ(LRoot.Find("PackageCount")->Text, "2");
  EXPECT_EQ(LRoot.Find("SkippedEntries")->Text, "1");
  ASSERT_EQ(LRoot.Find("Packages")->Children.size(), 2u);
  EXPECT_EQ(LRoot.Find("Packages")->Children[1].Find("Name")->Text, "zsh");

  EXPECT_TRUE(LTask.ScanOnly(
      "", nullptr, [] { return true; }, FDir.Path() + "/scan-only"));
  EXPECT_EQ(FilesIn(FDir.Path() + "/scan-only").size(), 1u);
}

TEST_F(SoftwareScannerTaskTest, AMissingDatabaseOrAStopFailsTheRunWithoutAResult) {
  TSoftwareScannerTask LMissing(FDir.Path() + "/data", FDir.Path() + "/no-such-status");
  EXPECT_FALSE(LMissing.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, FDir.Path() + "/no-such-status cannot be read"));

  TSoftwareScannerTask LStopped(FDir.Path() + "/data", FStatusFile);
  EXPECT_FALSE(LStopped.Execute("client-7", nullptr, [] { return false; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Software Scanner cut short"));
  EXPECT_TRUE(FilesIn(LStopped.GetResultDir()).empty());
}

}  // namespace
}  // namespace Orvane
