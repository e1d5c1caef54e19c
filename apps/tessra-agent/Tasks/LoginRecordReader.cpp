#include "Tasks/LoginRecordReader.h"

#include <arpa/inet.h>
#include <utmp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileReader.h"

namespace Orvane {

namespace {

constexpr std::size_t CRecordSize = sizeof(struct utmp);

[[noreturn]] void RaiseReadError(const std::string& AFileName, int AErrorCode) {
  throw EOSError(AFileName + " cannot be read: " + std::generic_category().message(AErrorCode), AErrorCode);
}

// The fields are fixed-size and NUL-padded, with no NUL when full.
template <std::size_t N>
std::string FieldText(const char (&AField)[N]) {
  return std::string(AField, strnlen(AField, N));
}

// A remote logon whose host name was not recorded still has its address.
std::string AddressText(const int32_t (&AAddress)[4]) {
  char LText[INET6_ADDRSTRLEN] = {};
  if (AAddress[1] == 0 && AAddress[2] == 0 && AAddress[3] == 0) {
    if (AAddress[0] == 0) return "";
    inet_ntop(AF_INET, &AAddress[0], LText, sizeof(LText));
  } else {
    inet_ntop(AF_INET6, AAddress, LText, sizeof(LText));
  }
  return LText;
}

}  // namespace

TLoginRecordReader::TLoginRecordReader(std::string AFileName) : FFileName(std::move(AFileName)) {}

bool TLoginRecordReader::Read(const TContinueCheck& ACanContinue) {
  FLastLogin = TLoginRecord{};
  FRecordCount = FLoginCount = FUnknownCount = 0;

  TFileReader LFile;
  if (const TFileResult LOpened = LFile.Open(FFileName, {.RegularOnly = true}); !LOpened.Done())
    RaiseReadError(FFileName, LOpened.ErrorCode);
  // Only what was there when we looked: a logon appended meanwhile belongs to the next run.
  const std::size_t LSize = static_cast<std::size_t>(LFile.Size());
  if (LSize % CRecordSize != 0)
    throw EFileError(FFileName + " does not end on a record boundary: " + std::to_string(LSize) +
                     " bytes, records of " + std::to_string(CRecordSize) + " bytes");

  std::vector<struct utmp> LChunk(CRecordsPerCheck);
  std::size_t LLeft = LSize;
  bool LNewestSet = false;
  while (LLeft > 0) {
    if (FRecordCount > 0 && ACanContinue && !ACanContinue()) return false;
    const std::size_t LWanted = std::min(LLeft, LChunk.size() * CRecordSize);
    std::size_t LGot = 0;
    if (const TFileResult LRead = LFile.Read({reinterpret_cast<char*>(LChunk.data()), LWanted}, LGot); !LRead.Done())
      RaiseReadError(FFileName, LRead.ErrorCode);
    // Shortened while we read (rotated by copy and truncate): a part record is no record.
    if (LGot % CRecordSize != 0)
      throw EFileError(FFileName + " ends inside a record: it was shortened while it was read");
    LLeft = LGot < LWanted ? 0 : LLeft - LGot;
    for (std::size_t I = 0; I < LGot / CRecordSize; ++I) {
      const struct utmp& LRecord = LChunk[I];
      ++FRecordCount;
      if (LRecord.ut_type < EMPTY || LRecord.ut_type > ACCOUNTING) {
        ++FUnknownCount;
        continue;
      }
      if (LRecord.ut_type != USER_PROCESS || LRecord.ut_user[0] == '\0') continue;
      ++FLoginCount;
      const int64_t LSeconds = LRecord.ut_tv.tv_sec;
      const int32_t LMicro = static_cast<int32_t>(LRecord.ut_tv.tv_usec);
      if (LNewestSet && (LSeconds < FLastLogin.Seconds ||
                         (LSeconds == FLastLogin.Seconds && LMicro < FLastLogin.MicroSeconds)))
        continue;
      LNewestSet = true;
      FLastLogin.UserName = FieldText(LRecord.ut_user);
      FLastLogin.Terminal = FieldText(LRecord.ut_line);
      FLastLogin.Host = FieldText(LRecord.ut_host);
      if (FLastLogin.Host.empty()) FLastLogin.Host = AddressText(LRecord.ut_addr_v6);
      FLastLogin.Seconds = LSeconds;
      FLastLogin.MicroSeconds = LMicro;
    }
  }
  if (FUnknownCount > 0)
    OrvaneLogger()->Warning("%s: %d records of unknown type skipped", {FFileName, FUnknownCount});
  return true;
}

}  // namespace Orvane
