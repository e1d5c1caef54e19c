#include <gtest/gtest.h>

#include <filesystem>

#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/LogCapture.h"
#include "Support/LoginRecordFile.h"
#include "Support/TempDir.h"
#include "Support/TimeZoneScope.h"
#include "Tasks/LastUserScannerTask.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;
using Testing::MakeLoginRecord;

class LastUserScannerTaskTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(FDir.Path().empty()); }

  std::vector<fs::path> ResultFiles() const {
    std::vector<fs::path> LFiles;
    std::error_code LError;
    for (const auto& LEntry : fs::directory_iterator(FTask.GetResultDir(), LError))
      LFiles.push_back(LEntry.path());
    return LFiles;
  }
  TDataNode ReadOnlyResult() const {
    const std::vector<fs::path> LFiles = ResultFiles();
    EXPECT_EQ(LFiles.size(), 1u);
    TXmlSerializer LReader;
    if (!LFiles.empty()) LReader.LoadFromFile(LFiles[0]);
    return LFiles.empty() ? TDataNode{} : LReader.ReadRoot();
  }

  Testing::TTimeZoneScope FZone{Testing::CCentralEurope};
  Testing::TTempDir FDir;
  std::string FRecords = FDir.Path() + "/wtmp";
  Testing::TLogCapture FLog;
  TLastUserScannerTask FTask{FDir.Path() + "/data", FRecords};
};

TEST_F(LastUserScannerTaskTest, ExecuteReportsTheLastUserWithTerminalHostAndLocalLogonTime) {
  // 2026-07-01 10:30:15.250 UTC, 12:30 in Central European summer time.
  Testing::WriteLoginRecords(
      FRecords, {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "laptop.lan", 1782901815, 250000),
                 MakeLoginRecord(USER_PROCESS, "bob", "tty1", "", 1700000000)});
  ASSERT_TRUE(FTask.Execute("client-7", nullptr, [] { return true; }));

  const TDataNode LRoot = ReadOnlyResult();
  EXPECT_EQ(LRoot.Name, "TLastUserInventory");
  EXPECT_EQ(LRoot.Find("ClientId")->Text, "client-7");
  EXPECT_EQ(LRoot.Find("UserFound")->Text, "true");
  EXPECT_EQ(LRoot.Find("LoginCount")->Text, "2");
  EXPECT_EQ(LRoot.Find("UserName")->Text, "alice");
  EXPECT_EQ(LRoot.Find("Terminal")->Text, "pts/0");
  EXPECT_EQ(LRoot.Find("Host")->Text, "laptop.lan");
  EXPECT_TRUE(SameDateTime(TextToDateTime(LRoot.Find("LoginTime")->Text),
                           EncodeDateTime(2026, 7, 1, 12, 30, 15, 250)));
  EXPECT_TRUE(
      FLog->Contains(TLogEntryKind::Message, "Last user Scanner result: " + ResultFiles()[0].string()));
}

TEST_F(LastUserScannerTaskTest, RecordsWithoutALogonGiveADocumentSayingSo) {
  Testing::WriteLoginRecords(FRecords, {MakeLoginRecord(BOOT_TIME, "reboot", "~", "6.1.0", 1700000000)});
  ASSERT_TRUE(FTask.Execute("client-7", nullptr, [] { return true; }));
  const TDataNode LRoot = ReadOnlyResult();
  EXPECT_EQ(LRoot.Find("UserFound")->Text, "false");
  EXPECT_EQ(LRoot.Find("UserName")->Text, "");
  EXPECT_EQ(LRoot.Find("LoginTime"), nullptr);  // no time is no element
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Last user Scanner: no user logon in " + FRecords));
}

TEST_F(LastUserScannerTaskTest, MissingRecordsOrAStopFailTheRunAndWriteNothing) {
  EXPECT_FALSE(FTask.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, FRecords + " cannot be read"));

  Testing::WriteLoginRecords(FRecords, {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "", 1700000000)});
  EXPECT_FALSE(FTask.Execute("client-7", nullptr, [] { return false; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Message, "Last user Scanner cut short"));
  EXPECT_TRUE(ResultFiles().empty());
}

}  // namespace
}  // namespace Orvane
