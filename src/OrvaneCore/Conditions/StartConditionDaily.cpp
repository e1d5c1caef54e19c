#include "OrvaneCore/Conditions/StartConditionDaily.h"

#include <cmath>
#include <cstdint>

#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionDaily, TStartConditionTimed);

namespace {
constexpr uint8_t CAllWeekDays = 0x7F;

// DecodeDateTime(ADate).DayOfWeek (0 Sunday .. 6 Saturday) by arithmetic: the C library's answer
// costs as much as the rest of an evaluation. Day 0, 30 December 1899, was a Saturday.
int WeekDayOf(double ADate) {
  constexpr int64_t CMsPerDay = 86400000;
  const int64_t LMs = std::llround(ADate * CSecondsPerDay * 1000.0);
  const int64_t LDay = LMs / CMsPerDay - (LMs % CMsPerDay < 0 ? 1 : 0);
  return static_cast<int>(((LDay + 6) % 7 + 7) % 7);
}
}  // namespace

void TStartConditionDaily::DescribeMembers(IMemberVisitor& AVisitor) {
  TStartConditionTimed::DescribeMembers(AVisitor);
  AVisitor.Integer("TimeOfDay", FTimeOfDay);
  AVisitor.Byte("WeekDays", FWeekDays);
  ReportInvalidDefinition(AVisitor);
}

std::string TStartConditionDaily::InvalidReason() const {
  if (FTimeOfDay < 0 || FTimeOfDay >= static_cast<int32_t>(CSecondsPerDay))
    return "time of day " + std::to_string(FTimeOfDay) + " is not between 0 and 86399 seconds";
  if ((FWeekDays & ~CAllWeekDays) != 0)
    return "weekday bits " + std::to_string(FWeekDays) + " name no weekday";
  return std::string();
}

bool TStartConditionDaily::RunsOn(int ADayOfWeek) const {
  return FWeekDays == CEveryDay || (FWeekDays & (1u << ADayOfWeek)) != 0;
}

TDateTime TStartConditionDaily::OccurrenceOn(double ADate, int32_t ASplaySeconds) const {
  return IncSeconds(FirstUtcAtOrAfterLocal(ADate + FTimeOfDay / CSecondsPerDay), ASplaySeconds);
}

TDateTime TStartConditionDaily::FirstOwed(const TMarks& AMarks) const {
  const TDateTime LSettled = AMarks.SettledUntil();
  if (LSettled < 0) return CNoDateTime;
  // Occurrences grow with the date; start a day before the settled moment's local date (more when
  // the splay spans days) and take the first allowed day whose occurrence lies after it. A week holds
  // an allowed day.
  const int LSplayDays = static_cast<int>(std::ceil(AMarks.SplaySeconds / CSecondsPerDay));
  const double LFirstDate = std::floor(LocalOfUtc(LSettled)) - 1 - LSplayDays;
  for (int LDay = 0; LDay <= 9 + LSplayDays; ++LDay) {
    const double LDate = LFirstDate + LDay;
    if (!RunsOn(WeekDayOf(LDate))) continue;
    const TDateTime LOccurrence = OccurrenceOn(LDate, AMarks.SplaySeconds);
    if (CompareDateTime(LOccurrence, LSettled) > 0) return LOccurrence;
  }
  return CNoDateTime;
}

}  // namespace Orvane
