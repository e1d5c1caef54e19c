#pragma once

#include <cstdint>
#include <string>

namespace Orvane {

// Days since 1899-12-30 in local time, the time of day as fraction; -1.0 means "no time".
using TDateTime = double;

inline constexpr TDateTime CNoDateTime = -1.0;
inline constexpr double CSecondsPerDay = 86400.0;
// TDateTime of 1970-01-01 00:00.
inline constexpr double CUnixEpochDays = 25569.0;

// The clock's local wall-clock time (TClock::Instance().Now()).
TDateTime Now();

TDateTime IncSeconds(TDateTime AValue, double ASeconds);
double SecondsBetween(TDateTime AFrom, TDateTime ATo);  // ATo - AFrom, in seconds

// Equal within one millisecond.
bool SameDateTime(TDateTime A, TDateTime B);
// -1, 0 or 1; values within one millisecond compare equal.
int CompareDateTime(TDateTime A, TDateTime B);

// Local wall-clock time and UTC. LocalToUtc of a local time that a daylight-saving change skips or
// repeats resolves it the way mktime does.
TDateTime LocalToUtc(TDateTime ALocal);
TDateTime UtcToLocal(TDateTime AUtc);

// Seconds since the Unix epoch (UTC) and back.
TDateTime UnixToUtcDateTime(double AUnixSeconds);
double UtcDateTimeToUnix(TDateTime AUtc);

TDateTime EncodeDateTime(int AYear, int AMonth, int ADay, int AHour = 0, int AMinute = 0, int ASecond = 0,
                         int AMilliSecond = 0);
struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, MilliSecond, DayOfWeek;  // DayOfWeek: 0 Sunday .. 6 Saturday
};
TDateTimeParts DecodeDateTime(TDateTime AValue);

// Round-trip text with 17 significant digits, and its reader (throws EConvertError on bad text). The
// reader also takes the ISO 8601 form that DateTimeToIsoUtc writes.
std::string DateTimeToText(TDateTime AValue);
TDateTime TextToDateTime(const std::string& AText);

// The local time ALocal as ISO 8601 in UTC, to the millisecond: "2026-12-06T15:50:00.123Z". For
// documents that other programs read.
std::string DateTimeToIsoUtc(TDateTime ALocal);

// "2026-12-06 16:50:00.123" for logs and displays; "-" for no time.
std::string DateTimeToDisplay(TDateTime AValue);

}  // namespace Orvane
