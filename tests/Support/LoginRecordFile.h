#pragma once

#include <utmp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace Orvane::Testing {

// A login record as the system writes it. Texts longer than their field are cut, and a text that
// fills its field has no NUL, as in real records.
inline struct utmp MakeLoginRecord(short AType, const std::string& AUser, const std::string& ALine,
                                   const std::string& AHost, int64_t ASeconds, int32_t AMicroSeconds = 0) {
  struct utmp LRecord;
  std::memset(&LRecord, 0, sizeof(LRecord));
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
inline void WriteLoginRecords(const std::string& AFileName, const std::vector<struct utmp>& ARecords,
                              std::size_t AExtraBytes = 0) {
  std::ofstream LFile(AFileName, std::ios::binary | std::ios::trunc);
  LFile.write(reinterpret_cast<const char*>(ARecords.data()),
              static_cast<std::streamsize>(ARecords.size() * sizeof(struct utmp)));
  for (std::size_t I = 0; I < AExtraBytes; ++I) LFile.put('\0');
}

}  // namespace Orvane::Testing
