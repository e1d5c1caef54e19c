#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <utmp.h>

#include <cstring>
#include <filesystem>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Xml/XmlSerializer.h"
#include "Support/FileText.h"
#include "Support/LogCapture.h"
#include "Support/TempDir.h"
#include "Support/TimeZoneScope.h"
#include "Tasks/LastUserScannerTask.h"
#include "Tasks/LoginRecordReader.h"

namespace Orvane {
namespace {

namespace fs = std::filesystem;

// A login record as the system writes it. Texts longer than their field are cut, and a text that
// fills its field has no NUL, as in real records.
struct utmp MakeLoginRecord(short AType, const std::string& AUser, const std::string& ALine, const std::string& AHost,
                            int64_t ASeconds, int32_t AMicroSeconds = 0) {
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
  Testing::WriteFile(AFileName, std::string(LBytes, ARecords.size() * sizeof(struct utmp)) + std::string(AExtraBytes, '\0'));
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
  WriteLoginRecords(
      FRecords, {MakeLoginRecord(BOOT_TIME, "reboot", "~", "6.1.0", 1000),
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
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Warning),
            std::vector<std::string>{FRecords + ": 2 records of unknown type skipped"});
  WriteLoginRecords(FRecords, {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "", 2000)}, 100);
  EXPECT_THROW(LReader.Read(), EFileError);
}

TEST_F(LastUserScannerTaskTest, ExecuteReportsTheLastUserWithLocalLogonTimeOrThatThereIsNone) {
  // Missing records or a stop fail the run and write nothing.
  EXPECT_FALSE(FTask.Execute("client-7", nullptr, [] { return true; }));
  EXPECT_TRUE(FLog->Contains(TLogEntryKind::Exception, FRecords + " cannot be read"));
  // 2026-07-01 10:30:15.250 UTC, 12:30 in Central European summer time.
  WriteLoginRecords(
      FRecords, {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "laptop.lan", 1782901815, 250000),
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
