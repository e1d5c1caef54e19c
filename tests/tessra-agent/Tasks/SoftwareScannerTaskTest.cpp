#include <gmock/gmock.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Tasks/DpkgStatusReader.h"
#include "Tasks/SoftwareScannerTask.h"

namespace Orvane {
namespace {

using TStrings = std::vector<std::string>;

class DpkgStatusReaderTest : public ::testing::Test {
protected:
  std::string WriteStatus(const std::string& AText) {
    std::ofstream(FFile, std::ios::binary) << AText;
    return FFile;
  }
  TStrings Names() const {
    TStrings LNames;
    for (const auto& LPackage : FPackages) LNames.push_back(LPackage->Name);
    return LNames;
  }

  Testing::TTempDir FDir;
  const std::string FFile = FDir.Path() + "/status";
  Testing::TLogCapture FLog;
  std::vector<std::shared_ptr<TInstalledPackage>> FPackages;
};

TEST_F(DpkgStatusReaderTest, ReadsInstalledPackagesOnlyWithTheirFields) {
  TDpkgStatusReader LReader(WriteStatus(
      "Package: libfoo1\nStatus: install ok installed\nSection: libs\nInstalled-Size: 120\n"
      "Maintainer: Foo Team <foo@example.org>\nArchitecture: amd64\nVersion: 1:2.3-4\n"
      "Depends: libc6 (>= 2.34),\n libbar2\nDescription: the foo library\n Longer text\n .\n goes on.\n"
      "\n\n"
      "status: hold ok installed\r\npackage: held-tool\r\nversion: 7\r\n\n"  // any letter case, CRLF
      "Package: gone\nStatus: deinstall ok config-files\nVersion: 1.0\n\n"
      "Package: half\nStatus: install reinstreq half-installed\nVersion: 0.1\n\n"
      "Package: last\nStatus: install ok installed\nVersion: 9\nArchitecture: all"));  // no final line end
  ASSERT_TRUE(LReader.Read(FPackages));
  EXPECT_EQ(Names(), (TStrings{"libfoo1", "held-tool", "last"}));
  const TInstalledPackage& L = *FPackages[0];
  EXPECT_EQ(
      (TStrings{L.Version, L.Architecture, L.Status, L.Section, L.InstalledSizeKiB, L.Maintainer, L.Summary}),
      (TStrings{"1:2.3-4", "amd64", "install ok installed", "libs", "120", "Foo Team <foo@example.org>",
                "the foo library"}));
  EXPECT_EQ((TStrings{FPackages[1]->Status, FPackages[1]->Version, FPackages[2]->Architecture}),
            (TStrings{"hold ok installed", "7", "all"}));
  EXPECT_EQ(std::make_pair(LReader.GetEntryCount(), LReader.GetMalformedCount()), std::make_pair(5ul, 0ul));
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Warning));
}

TEST_F(DpkgStatusReaderTest, MalformedEntriesAreSkippedCountedAndLoggedOnce) {
  TDpkgStatusReader LReader(
      WriteStatus("Package: good\nStatus: install ok installed\nVersion: 3\n\n"
                  "Status: install ok installed\nVersion: 1\n\n"  // line 5: no Package
                  "Package: two-words\nStatus: install installed\nVersion: 1\n\n"
                  " continuation first\nPackage: x\nStatus: install ok installed\nVersion: 1\n\n"
                  "Package: no-colon\nno field here\nStatus: install ok installed\nVersion: 1\n\n"
                  "Package: twice\nStatus: install ok installed\nVersion: 1\nVersion: 2\n\n"
                  "Package: no-version\nStatus: install ok installed\n"));
  ASSERT_TRUE(LReader.Read(FPackages));
  EXPECT_EQ(Names(), TStrings{"good"});
  EXPECT_EQ(LReader.GetMalformedCount(), 6u);
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Warning),
            TStrings{FFile + ": 6 malformed entries skipped, the first at line 5"});
}

TEST_F(DpkgStatusReaderTest, AFileThatCannotBeReadRaisesWithItsReason) {
  using ::testing::Property, ::testing::Throws;
  EXPECT_THAT([&] { TDpkgStatusReader(FFile).Read(FPackages); },
              Throws<EOSError>(Property(&EOSError::ErrorCode, ENOENT)));
  EXPECT_THAT([&] { TDpkgStatusReader(FDir.Path()).Read(FPackages); },
              Throws<EOSError>(Property(&EOSError::ErrorCode, EISDIR)));
}

// Only a run that read the whole database leaves an inventory.
TEST_F(DpkgStatusReaderTest, SoftwareScannerWritesItsInventoryOnlyAfterACompleteRead) {
  TSoftwareScannerTask LTask(FDir.Path() + "/data", FFile);
  EXPECT_FALSE(LTask.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, FFile + " cannot be read"));
  WriteStatus(
      "Package: bash\nStatus: install ok installed\nVersion: 5.2-1\n\nPackage: broken\n\n"
      "Package: zsh\nStatus: install ok installed\nVersion: 5.9\n");
  EXPECT_FALSE(LTask.Execute("client-7", nullptr, [] { return false; }));
  EXPECT_FALSE(std::filesystem::exists(LTask.GetResultDir()));
  ASSERT_TRUE(LTask.Execute("client-7", nullptr, [] { return true; }));
  TXmlSerializer LReader;
  LReader.LoadFromFile(std::filesystem::directory_iterator(LTask.GetResultDir())->path());
  const TDataNode LRoot = LReader.ReadRoot();
  EXPECT_EQ(LRoot.Find("SkippedEntries")->Text, "1");
  ASSERT_EQ(LRoot.Find("Packages")->Children.size(), 2u);
  EXPECT_EQ(LRoot.Find("Packages")->Children[1].Find("Name")->Text, "zsh");
}

}  // namespace
}  // namespace Orvane
