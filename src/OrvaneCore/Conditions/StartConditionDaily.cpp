#include "OrvaneCore/Conditions/StartConditionDaily.h"

#include <cmath>

#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionDaily, TStartConditionTimed);

namespace {
constexpr uint8_t CAllWeekDays = 0x7F;
}

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
  const double LFirstDate = std::floor(UtcToLocal(LSettled)) - 1 - LSplayDays;
  for (int LDay = 0; LDay <= 9 + LSplayDays; ++LDay) {
    const double LDate = LFirstDate + LDay;
    if (!RunsOn(DecodeDateTime(LDate).DayOfWeek)) continue;
    const TDateTime LOccurrence = OccurrenceOn(LDate, AMarks.SplaySeconds);
    if (CompareDateTime(LOccurrence, LSettled) > 0) return LOccurrence;
  }
  return CNoDateTime;
}

}  // namespace Orvane
