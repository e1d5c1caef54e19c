#include "OrvaneCore/Time/DateTime.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/CalendarTime.h"
#include "OrvaneCore/Time/Clock.h"

namespace Orvane {

namespace {

constexpr double COneMillisecondInDays = 1.0 / (CSecondsPerDay * 1000.0);

// Whole seconds and the milliseconds within them of a TDateTime, rounded to the millisecond so
// that 23:59:59.9996 does not decode as second 60.
void SplitMs(TDateTime AValue, int64_t& AWholeSeconds, int& AMilliSecond) {
  const int64_t LTotalMs = static_cast<int64_t>(std::llround(AValue * CSecondsPerDay * 1000.0));
  AWholeSeconds = LTotalMs / 1000;
  AMilliSecond = static_cast<int>(LTotalMs % 1000);
  if (AMilliSecond < 0) {
    AMilliSecond += 1000;
    --AWholeSeconds;
  }
}

}  // namespace

TDateTime Now() {
  return TClock::Instance().Now();
}

TDateTime IncSeconds(TDateTime AValue, double ASeconds) {
  return AValue + ASeconds / CSecondsPerDay;
}

double SecondsBetween(TDateTime AFrom, TDateTime ATo) {
  return (ATo - AFrom) * CSecondsPerDay;
}

bool SameDateTime(TDateTime A, TDateTime B) {
  return std::fabs(A - B) < COneMillisecondInDays;
}

int CompareDateTime(TDateTime A, TDateTime B) {
  if (SameDateTime(A, B)) return 0;
  return A < B ? -1 : 1;
}

TDateTime UnixToUtcDateTime(double AUnixSeconds) {
  return AUnixSeconds / CSecondsPerDay + CUnixEpochDays;
}

double UtcDateTimeToUnix(TDateTime AUtc) {
  return (AUtc - CUnixEpochDays) * CSecondsPerDay;
}

TDateTime UtcToLocal(TDateTime AUtc) {
  const double LUnix = UtcDateTimeToUnix(AUtc);
  const time_t LWhole = static_cast<time_t>(std::floor(LUnix));
  return AUtc + static_cast<double>(LocalOffsetAt(LWhole)) / CSecondsPerDay;
}

TDateTime LocalToUtc(TDateTime ALocal) {
  int64_t LWholeSeconds;
  int LMs;
  SplitMs(ALocal, LWholeSeconds, LMs);
  // The local time as if it were UTC gives its broken-down fields; mktime maps them back.
  const time_t LAsUtc =
      static_cast<time_t>(LWholeSeconds - static_cast<int64_t>(CUnixEpochDays * CSecondsPerDay));
  tm LFields = UtcFields(LAsUtc);
  LFields.tm_isdst = -1;
  const time_t LUnix = mktime(&LFields);
  return UnixToUtcDateTime(static_cast<double>(LUnix) + LMs / 1000.0);
}

TDateTime EncodeDateTime(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond,
                         int AMilliSecond) {
  tm LFields{};
  LFields.tm_year = AYear - 1900;
  LFields.tm_mon = AMonth - 1;
  LFields.tm_mday = ADay;
  LFields.tm_hour = AHour;
  LFields.tm_min = AMinute;
  LFields.tm_sec = ASecond;
  const time_t LSeconds = UtcFieldsToUnix(LFields);
  return UnixToUtcDateTime(static_cast<double>(LSeconds) + AMilliSecond / 1000.0);
}

TDateTimeParts DecodeDateTime(TDateTime AValue) {
  int64_t LWholeSeconds;
  int LMs;
  SplitMs(AValue, LWholeSeconds, LMs);
  const time_t LSeconds =
      static_cast<time_t>(LWholeSeconds - static_cast<int64_t>(CUnixEpochDays * CSecondsPerDay));
  const tm LFields = UtcFields(LSeconds);
  return {LFields.tm_year + 1900,
          LFields.tm_mon + 1,
          LFields.tm_mday,
          LFields.tm_hour,
          LFields.tm_min,
          LFields.tm_sec,
          LMs,
          LFields.tm_wday};
}

std::string DateTimeToText(TDateTime AValue) {
  // Spelled out: the Windows C library writes a negative NaN without its sign.
  if (std::isnan(AValue)) return std::signbit(AValue) ? "-nan" : "nan";
  char LBuffer[40];
  std::snprintf(LBuffer, sizeof LBuffer, "%.17g", AValue);
  return LBuffer;
}

std::string DateTimeToIsoUtc(TDateTime ALocal) {
  const TDateTimeParts L = DecodeDateTime(LocalToUtc(ALocal));
  char LText[40];
  std::snprintf(LText, sizeof LText, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", L.Year, L.Month, L.Day, L.Hour, L.Minute,
                L.Second, L.MilliSecond);
  return LText;
}

namespace {

// "YYYY-MM-DDTHH:MM:SS[.fraction]Z", as DateTimeToIsoUtc writes it; false for anything else.
bool IsoUtcToDateTime(const std::string& AText, TDateTime& AValue) {
  int LYear, LMonth, LDay, LHour, LMinute, LSecond, LLength = 0;
  if (AText.size() < 20 || AText.back() != 'Z' ||
      std::sscanf(AText.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &LYear, &LMonth, &LDay, &LHour, &LMinute, &LSecond,
                  &LLength) != 6 ||
      LLength != 19)
    return false;
  double LFraction = 0;
  const std::string LRest = AText.substr(19, AText.size() - 20);
  if (!LRest.empty()) {
    char* LEnd = nullptr;
    LFraction = std::strtod(LRest.c_str(), &LEnd);
    if (LRest[0] != '.' || LRest.size() < 2 || LEnd != LRest.c_str() + LRest.size()) return false;
  }
  if (LMonth < 1 || LMonth > 12 || LDay < 1 || LDay > 31 || LHour > 23 || LMinute > 59 || LSecond > 60) return false;
  AValue = UtcToLocal(IncSeconds(EncodeDateTime(LYear, LMonth, LDay, LHour, LMinute, LSecond), LFraction));
  return true;
}

}  // namespace

TDateTime TextToDateTime(const std::string& AText) {
  if (TDateTime LIso; IsoUtcToDateTime(AText, LIso)) return LIso;
  errno = 0;
  char* LEnd = nullptr;
  const double LValue = std::strtod(AText.c_str(), &LEnd);
  if (AText.empty() || LEnd != AText.c_str() + AText.size() || errno == ERANGE || !std::isfinite(LValue))
    throw EConvertError("'" + AText + "' is not a valid date and time value");
  return LValue;
}

std::string DateTimeToDisplay(TDateTime AValue) {
  if (AValue < 0) return "-";
  const TDateTimeParts LParts = DecodeDateTime(AValue);
  char LBuffer[40];
  std::snprintf(LBuffer, sizeof LBuffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", LParts.Year, LParts.Month,
                LParts.Day, LParts.Hour, LParts.Minute, LParts.Second, LParts.MilliSecond);
  return LBuffer;
}

}  // namespace Orvane
