#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "OrvaneCore/Interfaces/AgentTask.Intf.h"

namespace Orvane {

// One user logon of the login records.
struct TLoginRecord {
  std::string UserName;
  std::string Terminal;
  std::string Host;
  int64_t Seconds = 0;       // since the Unix epoch, UTC
  int32_t MicroSeconds = 0;  // within that second
};

// Reads the system's login records (fixed-size utmp records, appended at each logon, logout and
// boot) and finds the newest user logon: the one with the latest time, the later record on a tie
// (the clock may have been set back, so the last record is not always the newest).
class TLoginRecordReader {
public:
  static constexpr const char* CDefaultRecordFile = "/var/log/wtmp";
  // Records read between two questions to the continue check.
  static constexpr std::size_t CRecordsPerCheck = 4096;

  explicit TLoginRecordReader(std::string AFileName = CDefaultRecordFile);

  // Reads the whole file. Returns false when ACanContinue said stop. Throws EOSError when the file
  // cannot be read, EFileError when it does not end on a record boundary (truncated, or not a
  // file of login records). Records of unknown types are skipped, with one warning per read.
  bool Read(const TContinueCheck& ACanContinue = {});

  const std::string& GetFileName() const { return FFileName; }
  // Of the last Read.
  bool HasLogin() const { return FLoginCount > 0; }
  const TLoginRecord& GetLastLogin() const { return FLastLogin; }
  std::size_t GetRecordCount() const { return FRecordCount; }
  std::size_t GetLoginCount() const { return FLoginCount; }
  std::size_t GetUnknownCount() const { return FUnknownCount; }

private:
  std::string FFileName;
  TLoginRecord FLastLogin;
  std::size_t FRecordCount = 0;
  std::size_t FLoginCount = 0;
  std::size_t FUnknownCount = 0;
};

}  // namespace Orvane
