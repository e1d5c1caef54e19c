// The agent's own tasks on Linux (the file, software and last-user scanners, with the readers of
// dpkg's database and the login records) and the store their results go to.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <utmp.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Time/DateTime.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "OrvaneCore/Xml/XmlWriter.h"
#include "Support/FileText.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Support/TimeZoneScope.h"
#include "Tasks/DpkgStatusReader.h"
#include "Tasks/FileInventory.h"
#include "Tasks/FileScannerTask.h"
#include "Tasks/LastUserScannerTask.h"
#include "Tasks/LoginRecordReader.h"
#include "Tasks/SoftwareScannerTask.h"
#include "Tasks/TaskResultStore.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;
using TStrings = std::vector<std::string>;

// The member AMember of each item of AItems, in order.
template <class TItems, class TMember>
TStrings Each(const TItems& AItems, TMember AMember) {
  TStrings LValues;
  for (const auto& LItem : AItems) LValues.push_back((*LItem).*AMember);
  return LValues;
}

TEST(TaskResultStoreTest, WritesDocumentsNamedByTimeKeepsTheNewestAndFileEntriesComeBackAsTheyWent) {
  Testing::TTempDir LDir;
  const TTaskResultStore LStore = TTaskResultStore::ForTask(LDir.Path(), "File Scanner");
  const std::string LResults = LStore.GetDir();
  TFileInventory LInventory(LDir.Path() + "/spool");
  LInventory.ClientId = "client-7";
  const std::string LFile = LStore.Write(LInventory, EncodeDateTime(2026, 12, 6, 8, 5, 9, 42));
  EXPECT_EQ(fs::path(LFile).filename(), "20261206-080509-042.xml");
  TXmlSerializer LReader;
  LReader.LoadFromFile(LFile);
  EXPECT_EQ(LReader.ReadRoot().Find("ClientId")->Text, "client-7");

  for (int I = 0; I < 12; ++I) LStore.Write(LInventory, EncodeDateTime(2026, 12, 7, 0, 0, I, 0));
  Testing::WriteFile(LResults + "/notes.txt", "not a result");
  LStore.RemoveOld(3);
  EXPECT_EQ(Testing::DirectoryEntries(LResults),
            (TStrings{"20261207-000009-000.xml", "20261207-000010-000.xml", "20261207-000011-000.xml",
                      "notes.txt"}));
  // A file stands where the results folder would be made.
  Testing::WriteFile(LDir.Path() + "/blocker", "not a folder");
  EXPECT_EQ(TTaskResultStore(LDir.Path(), "blocker/x", "File Scanner").Write(LInventory, 46000.0), "");

  // Entries go to disk in pieces and come back through a read window: a few thousand of them cross
  // both boundaries many times, and texts with any bytes must come back as they went.
  const std::string LOdd = "/srv/odd\nname\t\xC3\xA9<&>\"";
  for (int I = 0; I < 3000; ++I)
    LInventory.Files.Add(I == 1234 ? LOdd : "/srv/file-" + std::to_string(I), std::to_string(I),
                         "2026-01-01T00:00:00Z");
  LInventory.FileCount = 3000;
  ASSERT_EQ(LInventory.Files.size(), 3000u);
  // In order, then out of order (the window moves back).
  int I = 0;
  for (const auto& LEntry : LInventory.Files) ASSERT_EQ(LEntry->SizeBytes, std::to_string(I++));
  EXPECT_EQ(LInventory.Files[1234]->Path, LOdd);
  EXPECT_EQ(LInventory.Files[7]->Path, "/srv/file-7");
  EXPECT_EQ(LInventory.Files[2999]->ModifiedUtc, "2026-01-01T00:00:00Z");

  // Streamed from the list, the document is byte for byte what the serializer writes in memory.
  struct TStringSink final : IXmlSink {
    std::string Text;
    void Write(const char* AData, std::size_t ASize) override { Text.append(AData, ASize); }
  } LStreamed;
  LInventory.ScannedAt = 46000.25;
  WriteObjectXml(LStreamed, LInventory);
  TXmlSerializer LSerializer;
  LSerializer.WriteObject(LInventory);
  EXPECT_EQ(LStreamed.Text, LSerializer.GetXml());

  // A result document carries ISO 8601 times in UTC, and leaves out a time that is not set.
  LInventory.ScannedAt = UtcToLocal(EncodeDateTime(2026, 12, 6, 8, 5, 9, 42));
  LReader.LoadFromFile(LStore.Write(LInventory, 46000.25));
  const TDataNode LRoot = LReader.ReadRoot();
  EXPECT_EQ(LRoot.Find("ScannedAt")->Text, "2026-12-06T08:05:09.042Z");
  EXPECT_EQ(LRoot.Find("Files")->Children.size(), 3000u);
  TFileInventory LRead;
  LReader.ReadObject(LRead);
  EXPECT_TRUE(SameDateTime(LRead.ScannedAt, LInventory.ScannedAt));
  LInventory.ScannedAt = CNoDateTime;
  LReader.LoadFromFile(LStore.Write(LInventory, 46000.5));
  EXPECT_EQ(LReader.ReadRoot().Find("ScannedAt"), nullptr);
  // The spool is an unnamed file: nothing is left beside the results.
  EXPECT_TRUE(fs::is_empty(LDir.Path() + "/spool"));
}

class FileScannerTaskTest : public ::testing::Test {
protected:
  std::string WriteFile(const std::string& ARelative, const std::string& AContent) {
    const fs::path LPath = fs::path(FTree) / ARelative;
    fs::create_directories(LPath.parent_path());
    Testing::WriteFile(LPath.string(), AContent);
    return LPath.string();
  }
  static std::shared_ptr<TFileScannerJobAction> ActionFor(TStrings APaths) {
    auto LAction = std::make_shared<TFileScannerJobAction>();
    LAction->Paths = std::move(APaths);
    return LAction;
  }
  TStrings ResultFiles() const { return Testing::DirectoryEntries(FTask.GetResultDir()); }

  Testing::TTempDir FDir;
  std::string FTree = FDir.Path() + "/tree";
  Testing::TLogCapture FLog;
  TFileScannerTask FTask{FDir.Path() + "/data"};
};

TEST_F(FileScannerTaskTest, ListsRegularFilesInNameOrderWithoutFollowingLinksOrListingTwiceUpToItsLimit) {
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
  EXPECT_EQ(Each(LInventory.Files, &TFileEntry::Path), (TStrings{LOne, LTwo, LZero, LOne}));
  EXPECT_EQ(LInventory.Files[0]->SizeBytes, "5");
  EXPECT_EQ(LInventory.Files[0]->ModifiedUtc, "2021-03-04T05:06:07Z");
  EXPECT_EQ(LInventory.TotalBytes, "13");

  // The listing stops at its limit, with one warning.
  for (int I = 0; I < 5; ++I) WriteFile("many/f" + std::to_string(1000 + I), "");
  TFileInventory LLimited;
  EXPECT_EQ(TFileScannerTask(FDir.Path() + "/data", 3)
                .Collect(LLimited, {FTree + "/many", FTree + "/many/f1000"}, {}),
            TFileScannerTask::TOutcome::Complete);
  EXPECT_EQ(Each(LLimited.Files, &TFileEntry::Path),
            (TStrings{FTree + "/many/f1000", FTree + "/many/f1001", FTree + "/many/f1002"}));
  EXPECT_TRUE(LLimited.LimitReached);
  EXPECT_EQ(FLog->Count(TLogEntryKind::Warning, "File Scanner: the listing stops at its limit of 3 files"),
            1);
}

// What Execute writes goes to the result sink, even for a failed run; what ScanOnly writes does not.
TEST_F(FileScannerTaskTest, FailedPathsAreRecordedAndFailTheRunWhileTheOthersAreStillWritten) {
  struct TRecordingSink final : IResultSink {
    TStrings Results;
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

  const TStrings LFiles = ResultFiles();
  ASSERT_EQ(LFiles.size(), 1u);
  const std::string LResult = FTask.GetResultDir() + "/" + LFiles[0];
  EXPECT_EQ(LSink->Results, TStrings{std::string(CFileScannerId) + " " + LResult});
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

class DpkgStatusReaderTest : public ::testing::Test {
protected:
  std::string WriteStatus(const std::string& AText) {
    Testing::WriteFile(FFile, AText);
    return FFile;
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
  EXPECT_EQ(Each(FPackages, &TInstalledPackage::Name), (TStrings{"libfoo1", "held-tool", "last"}));
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
  EXPECT_EQ(Each(FPackages, &TInstalledPackage::Name), TStrings{"good"});
  EXPECT_EQ(LReader.GetMalformedCount(), 6u);
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Warning),
            TStrings{FFile + ": 6 malformed entries skipped, the first at line 5"});
}

// A file that cannot be read raises with its reason; only a run that read the whole database leaves
// an inventory.
TEST_F(DpkgStatusReaderTest, AFileThatCannotBeReadRaisesAndOnlyACompleteReadLeavesAnInventory) {
  using ::testing::Property, ::testing::Throws;
  EXPECT_THAT([&] { TDpkgStatusReader(FFile).Read(FPackages); },
              Throws<EOSError>(Property(&EOSError::ErrorCode, ENOENT)));
  EXPECT_THAT([&] { TDpkgStatusReader(FDir.Path()).Read(FPackages); },
              Throws<EOSError>(Property(&EOSError::ErrorCode, EISDIR)));
  TSoftwareScannerTask LTask(FDir.Path() + "/data", FFile);
  EXPECT_FALSE(LTask.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, FFile + " cannot be read"));
  WriteStatus(
      "Package: bash\nStatus: install ok installed\nVersion: 5.2-1\n\nPackage: broken\n\n"
      "Package: zsh\nStatus: install ok installed\nVersion: 5.9\n");
  EXPECT_FALSE(LTask.Execute("client-7", nullptr, [] { return false; }));
  EXPECT_FALSE(fs::exists(LTask.GetResultDir()));
  ASSERT_TRUE(LTask.Execute("client-7", nullptr, [] { return true; }));
  TXmlSerializer LReader;
  LReader.LoadFromFile(fs::directory_iterator(LTask.GetResultDir())->path());
  const TDataNode LRoot = LReader.ReadRoot();
  EXPECT_EQ(LRoot.Find("SkippedEntries")->Text, "1");
  ASSERT_EQ(LRoot.Find("Packages")->Children.size(), 2u);
  EXPECT_EQ(LRoot.Find("Packages")->Children[1].Find("Name")->Text, "zsh");
}

// A login record as the system writes it. Texts longer than their field are cut, and a text that
// fills its field has no NUL, as in real records.
struct utmp MakeLoginRecord(short AType, const std::string& AUser, const std::string& ALine,
                            const std::string& AHost, int64_t ASeconds, int32_t AMicroSeconds = 0) {
  struct utmp LRecord {};
  LRecord.ut_type = AType;
  LRecord.ut_pid = 4242;
  std::memcpy(LRecord.ut_user, AUser.data(), std::min(AUser.size(), sizeof(LRecord.ut_user)));
  std::memcpy(LRecord.ut_line, ALine.data(), std::min(ALine.size(), sizeof(LRecord.ut_line)));
  std::memcpy(LRecord.ut_host, AHost.data(), std::min(AHost.size(), sizeof(LRecord.ut_host)));
  LRecord.ut_tv.tv_sec = static_cast<decltype(LRecord.ut_tv.tv_sec)>(ASeconds);
  LRecord.ut_tv.tv_usec = AMicroSeconds;
  return LRecord;
}

// Writes ARecords to AFileName, followed by AExtraBytes stray bytes (a record cut short).
void WriteLoginRecords(const std::string& AFileName, const std::vector<struct utmp>& ARecords,
                       std::size_t AExtraBytes = 0) {
  const auto* LBytes = reinterpret_cast<const char*>(ARecords.data());
  Testing::WriteFile(
      AFileName, std::string(LBytes, ARecords.size() * sizeof(struct utmp)) + std::string(AExtraBytes, '\0'));
}

class LastUserScannerTaskTest : public ::testing::Test {
protected:
  // The result of a run, which is removed: the next run's is the only one again.
  TDataNode RunAndTakeResult() {
    EXPECT_TRUE(FTask.Execute("client-7", nullptr, [] { return true; }));
    TXmlSerializer LReader;
    for (const auto& LFile : fs::directory_iterator(FTask.GetResultDir())) LReader.LoadFromFile(LFile.path());
    fs::remove_all(FTask.GetResultDir());
    return LReader.ReadRoot();
  }

  Testing::TTimeZoneScope FZone{Testing::CCentralEurope};
  Testing::TTempDir FDir;
  std::string FRecords = FDir.Path() + "/wtmp";
  Testing::TLogCapture FLog;
  TLastUserScannerTask FTask{FDir.Path() + "/data", FRecords};
};

TEST_F(LastUserScannerTaskTest, TheNewestUserLogonWinsEvenWhenTheClockWasSetBack) {
  const std::string LLongName(UT_NAMESIZE, 'u');  // fills its field: no NUL
  WriteLoginRecords(FRecords,
                    {MakeLoginRecord(BOOT_TIME, "reboot", "~", "6.1.0", 1000),
                     MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "10.0.0.5", 2000),
                     MakeLoginRecord(USER_PROCESS, LLongName, "tty1", "", 3000, 500),
                     MakeLoginRecord(DEAD_PROCESS, "", "tty1", "", 4000),
                     MakeLoginRecord(USER_PROCESS, "carol", "pts/1", "", 2500),  // after the clock went back
                     MakeLoginRecord(LOGIN_PROCESS, "LOGIN", "tty2", "", 5000)});
  TLoginRecordReader LReader(FRecords);
  ASSERT_TRUE(LReader.Read());
  EXPECT_EQ(LReader.GetLoginCount(), 3u);
  EXPECT_EQ(LReader.GetLastLogin().UserName, LLongName);
  EXPECT_EQ(LReader.GetLastLogin().MicroSeconds, 500);

  // Same time: the later record; no host name: the recorded address.
  struct utmp LByAddress = MakeLoginRecord(USER_PROCESS, "dave", "pts/2", "", 3000, 500);
  inet_pton(AF_INET, "192.0.2.7", &LByAddress.ut_addr_v6[0]);
  WriteLoginRecords(FRecords, {MakeLoginRecord(USER_PROCESS, "erin", "pts/1", "h", 3000, 500), LByAddress});
  ASSERT_TRUE(LReader.Read());
  EXPECT_EQ(LReader.GetLastLogin().UserName, "dave");
  EXPECT_EQ(LReader.GetLastLogin().Host, "192.0.2.7");

  // Unknown types are skipped with one warning; a record cut short raises.
  WriteLoginRecords(FRecords, {MakeLoginRecord(77, "ghost", "pts/9", "", 9000),
                               MakeLoginRecord(-3, "ghost", "pts/9", "", 9000),
                               MakeLoginRecord(USER_PROCESS, "", "pts/3", "", 9000)});
  ASSERT_TRUE(LReader.Read());
  EXPECT_FALSE(LReader.HasLogin());
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Warning), TStrings{FRecords + ": 2 records of unknown type skipped"});
  WriteLoginRecords(FRecords, {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "", 2000)}, 100);
  EXPECT_THROW(LReader.Read(), EFileError);
}

TEST_F(LastUserScannerTaskTest, ExecuteReportsTheLastUserWithLocalLogonTimeOrThatThereIsNone) {
  // Missing records or a stop fail the run and write nothing.
  EXPECT_FALSE(FTask.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, FRecords + " cannot be read"));
  // 2026-07-01 10:30:15.250 UTC, 12:30 in Central European summer time.
  WriteLoginRecords(FRecords,
                    {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "laptop.lan", 1782901815, 250000),
                     MakeLoginRecord(USER_PROCESS, "bob", "tty1", "", 1700000000)});
  EXPECT_FALSE(FTask.Execute("client-7", nullptr, [] { return false; }));
  EXPECT_FALSE(fs::exists(FTask.GetResultDir()) && !fs::is_empty(FTask.GetResultDir()));

  TDataNode LRoot = RunAndTakeResult();
  EXPECT_EQ(LRoot.Find("UserName")->Text, "alice");
  EXPECT_EQ(LRoot.Find("Host")->Text, "laptop.lan");
  EXPECT_TRUE(SameDateTime(TextToDateTime(LRoot.Find("LoginTime")->Text),
                           EncodeDateTime(2026, 7, 1, 12, 30, 15, 250)));

  WriteLoginRecords(FRecords, {MakeLoginRecord(BOOT_TIME, "reboot", "~", "6.1.0", 1700000000)});
  LRoot = RunAndTakeResult();
  EXPECT_EQ(LRoot.Find("UserFound")->Text, "false");
  EXPECT_EQ(LRoot.Find("LoginTime"), nullptr);  // no time is no element
}

}  // namespace
}  // namespace Orvane
