#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/RecordingLogSink.h"
#include "Support/LogCapture.h"
#include "Support/LoginRecordFile.h"
#include "Support/TempDir.h"
#include "Tasks/LoginRecordReader.h"

namespace Orvane {
namespace {

using Testing::MakeLoginRecord;

class LoginRecordReaderTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(FDir.Path().empty()); }

  Testing::TTempDir FDir;
  std::string FFile = FDir.Path() + "/wtmp";
  Testing::TLogCapture FLog;
};

TEST_F(LoginRecordReaderTest, TheNewestUserLogonWinsEvenWhenTheClockWasSetBack) {
  const std::string LLongName(UT_NAMESIZE, 'u');  // fills its field: no NUL
  Testing::WriteLoginRecords(
      FFile, {MakeLoginRecord(BOOT_TIME, "reboot", "~", "6.1.0", 1000),
              MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "10.0.0.5", 2000),
              MakeLoginRecord(USER_PROCESS, LLongName, "tty1", "", 3000, 500),
              MakeLoginRecord(DEAD_PROCESS, "", "tty1", "", 4000),
              MakeLoginRecord(USER_PROCESS, "carol", "pts/1", "", 2500),  // after the clock went back
              MakeLoginRecord(LOGIN_PROCESS, "LOGIN", "tty2", "", 5000)});
  TLoginRecordReader LReader(FFile);
  ASSERT_TRUE(LReader.Read());
  EXPECT_EQ(LReader.GetRecordCount(), 6u);
  EXPECT_EQ(LReader.GetLoginCount(), 3u);
  ASSERT_TRUE(LReader.HasLogin());
  EXPECT_EQ(LReader.GetLastLogin().UserName, LLongName);
  EXPECT_EQ(LReader.GetLastLogin().Terminal, "tty1");
  EXPECT_EQ(LReader.GetLastLogin().Host, "");
  EXPECT_EQ(LReader.GetLastLogin().Seconds, 3000);
  EXPECT_EQ(LReader.GetLastLogin().MicroSeconds, 500);

  // Same time: the later record; no host name: the recorded address.
  struct utmp LByAddress = MakeLoginRecord(USER_PROCESS, "dave", "pts/2", "", 3000, 500);
  inet_pton(AF_INET, "192.0.2.7", &LByAddress.ut_addr_v6[0]);
  Testing::WriteLoginRecords(FFile,
                             {MakeLoginRecord(USER_PROCESS, "erin", "pts/1", "h", 3000, 500), LByAddress});
  ASSERT_TRUE(LReader.Read());
  EXPECT_EQ(LReader.GetLastLogin().UserName, "dave");
  EXPECT_EQ(LReader.GetLastLogin().Host, "192.0.2.7");
}

TEST_F(LoginRecordReaderTest, EmptyRecordsHoldNoLogonAndUnknownTypesAreSkippedWithOneWarning) {
  Testing::WriteLoginRecords(FFile, {});
  TLoginRecordReader LReader(FFile);
  ASSERT_TRUE(LReader.Read());
  EXPECT_FALSE(LReader.HasLogin());
  EXPECT_EQ(LReader.GetRecordCount(), 0u);

  Testing::WriteLoginRecords(FFile, {MakeLoginRecord(77, "ghost", "pts/9", "", 9000),
                                     MakeLoginRecord(-3, "ghost", "pts/9", "", 9000),
                                     MakeLoginRecord(USER_PROCESS, "", "pts/3", "", 9000)});
  ASSERT_TRUE(LReader.Read());
  EXPECT_FALSE(LReader.HasLogin());
  EXPECT_EQ(LReader.GetUnknownCount(), 2u);
  EXPECT_EQ(FLog->Texts(TLogEntryKind::Warning),
            std::vector<std::string>{FFile + ": 2 records of unknown type skipped"});
}

TEST_F(LoginRecordReaderTest, RecordsThatEndInsideARecordRaise) {
  Testing::WriteLoginRecords(FFile, {MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "", 2000)}, 100);
  EXPECT_THROW(TLoginRecordReader(FFile).Read(), EFileError);
}

TEST_F(LoginRecordReaderTest, TheContinueCheckStopsALongRead) {
  const std::vector<struct utmp> LRecords(TLoginRecordReader::CRecordsPerCheck + 10,
                                          MakeLoginRecord(USER_PROCESS, "alice", "pts/0", "", 2000));
  Testing::WriteLoginRecords(FFile, LRecords);
  TLoginRecordReader LReader(FFile);
  // The first question comes after the first batch of records.
  EXPECT_FALSE(LReader.Read([] { return false; }));
  EXPECT_EQ(LReader.GetRecordCount(), TLoginRecordReader::CRecordsPerCheck);
  EXPECT_TRUE(LReader.Read([] { return true; }));
  EXPECT_EQ(LReader.GetRecordCount(), LRecords.size());
}

}  // namespace
}  // namespace Orvane
