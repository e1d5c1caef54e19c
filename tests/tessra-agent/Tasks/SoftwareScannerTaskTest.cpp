#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Tasks/SoftwareScannerTask.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const std::string& ADir) {
  std::vector<fs::path> LFiles;
  std::error_code LError;
  for (const auto& LEntry : fs::directory_iterator(ADir, LError)) LFiles.push_back(LEntry.path());
  return LFiles;
}

TEST(SoftwareScannerTaskTest, OnlyARunThatReadTheDatabaseLeavesAnInventory) {
  Testing::TTempDir LDir;
  ASSERT_FALSE(LDir.Path().empty());
  Testing::TLogCapture LLog;
  TSoftwareScannerTask LMissing(LDir.Path() + "/data", LDir.Path() + "/no-such-status");
  EXPECT_FALSE(LMissing.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Exception, LDir.Path() + "/no-such-status cannot be read"));

  std::ofstream(LDir.Path() + "/status")
      << "Package: bash\nStatus: install ok installed\nVersion: 5.2-1\n\nPackage: broken\n\n"
         "Package: zsh\nStatus: install ok installed\nVersion: 5.9\n";
  TSoftwareScannerTask LTask(LDir.Path() + "/data", LDir.Path() + "/status");
  EXPECT_FALSE(LTask.Execute("client-7", nullptr, [] { return false; }));
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Message, "Software Scanner cut short"));
  EXPECT_TRUE(FilesIn(LTask.GetResultDir()).empty());

  ASSERT_TRUE(LTask.Execute("client-7", nullptr, [] { return true; }));
  const std::vector<fs::path> LFiles = FilesIn(LTask.GetResultDir());
  ASSERT_EQ(LFiles.size(), 1u);
  EXPECT_TRUE(LLog->Contains(TLogEntryKind::Message, "Software Scanner result: " + LFiles[0].string()));
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
      "", nullptr, [] { return true; }, LDir.Path() + "/scan-only"));
  EXPECT_EQ(FilesIn(LDir.Path() + "/scan-only").size(), 1u);
}

}  // namespace
}  // namespace Orvane
