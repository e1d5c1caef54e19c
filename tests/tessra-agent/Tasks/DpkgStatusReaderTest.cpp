#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Tasks/DpkgStatusReader.h"

namespace Orvane {
namespace {

class DpkgStatusReaderTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(FDir.Path().empty());
  }

  std::string WriteStatus(const std::string& AText) {
    std::ofstream(FDir.Path() + "/status", std::ios::binary) << AText;
    return FDir.Path() + "/status";
  }
  // The error code of the EOSError that reading AFile raises, 0 when it raises none.
  int ReadErrorCode(const std::string& AFile) {
    try {
      TDpkgStatusReader(AFile).Read(FPackages);
    } catch (const EOSError& E) {
      EXPECT_NE(std::string(E.what()).find(AFile + " cannot be read"), std::string::npos) << E.what();
      return E.ErrorCode();
    }
    return 0;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> LNames;
    for (const auto& LPackage : FPackages) LNames.push_back(LPackage->Name);
    return LNames;
  }

  Testing::TTempDir FDir;
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
  EXPECT_EQ(Names(), (std::vector<std::string>{"libfoo1", "held-tool", "last"}));
  const TInstalledPackage& LFoo = *FPackages[0];
  EXPECT_EQ(LFoo.Version, "1:2.3-4");
  EXPECT_EQ(LFoo.Architecture, "amd64");
  EXPECT_EQ(LFoo.Status, "install ok installed");
  EXPECT_EQ(LFoo.Section, "libs");
  EXPECT_EQ(LFoo.InstalledSizeKiB, "120");
  EXPECT_EQ(LFoo.Maintainer, "Foo Team <foo@example.org>");
  EXPECT_EQ(LFoo.Summary, "the foo library");
  EXPECT_EQ(FPackages[1]->Status, "hold ok installed");
  EXPECT_EQ(FPackages[1]->Version, "7");
  EXPECT_EQ(FPackages[2]->Architecture, "all");
  EXPECT_EQ(LReader.GetEntryCount(), 5u);
  EXPECT_EQ(LReader.GetMalformedCount(), 0u);
  EXPECT_FALSE(FLog->Contains(TLogEntryKind::Warning));
}

TEST_F(DpkgStatusReaderTest, MalformedEntriesAreSkippedCountedAndLoggedOnce) {
  const std::string LFile = WriteStatus(
      "Package: good\nStatus: install ok installed\nVersion: 3\n\n"
      "Status: install ok installed\nVersion: 1\n\n"  // line 5: no Package
      "Package: two-words\nStatus: install installed\nVersion: 1\n\n"
      " continuation first\nPackage: x\nStatus: install ok installed\nVersion: 1\n\n"
      "Package: no-colon\nno field here\nStatus: install ok installed\nVersion: 1\n\n"
      "Package: twice\nStatus: install ok installed\nVersion: 1\nVersion: 2\n\n"
      "Package: no-version\nStatus: install ok installed\n");
  TDpkgStatusReader LReader(LFile);
  ASSERT_TRUE(LReader.Read(FPackages));
  EXPECT_EQ(Names(), std::vector<std::string>{"good"});
  EXPECT_EQ(LReader.GetMalformedCount(), 6u);
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Warning),
            std::vector<std::string>{LFile + ": 6 malformed entries skipped, the first at line 5"});
}

TEST_F(DpkgStatusReaderTest, AFileThatCannotBeReadRaisesWithItsReason) {
  EXPECT_EQ(ReadErrorCode(FDir.Path() + "/missing"), ENOENT);
  EXPECT_EQ(ReadErrorCode(FDir.Path()), EISDIR);
  if (geteuid() == 0) return;  // root reads files without read permission
  const std::string LLocked = WriteStatus("Package: a\n");
  chmod(LLocked.c_str(), 0);
  EXPECT_EQ(ReadErrorCode(LLocked), EACCES);
}

TEST_F(DpkgStatusReaderTest, TheContinueCheckStopsTheReadBetweenEntries) {
  std::string LText;
  for (int I = 0; I < 1000; ++I)
    LText += "Package: p" + std::to_string(I) + "\nStatus: install ok installed\nVersion: 1\n\n";
  int LChecks = 0;
  TDpkgStatusReader LReader(WriteStatus(LText));
  EXPECT_FALSE(LReader.Read(FPackages, [&] { return ++LChecks < 2; }));
  EXPECT_EQ(FPackages.size(), 2 * TDpkgStatusReader::CEntriesPerCheck);
}

}  // namespace
}  // namespace Orvane
