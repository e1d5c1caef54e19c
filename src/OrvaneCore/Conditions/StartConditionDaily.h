#pragma once

#include "OrvaneCore/Conditions/StartConditionTimed.h"

namespace Orvane {

// Days of the week as bits of TStartConditionDaily's WeekDays.
enum TWeekDay : uint8_t {
  wdSunday = 0x01,
  wdMonday = 0x02,
  wdTuesday = 0x04,
  wdWednesday = 0x08,
  wdThursday = 0x10,
  wdFriday = 0x20,
  wdSaturday = 0x40,
};
inline constexpr uint8_t CEveryDay = 0;
inline constexpr uint8_t CWorkDays = wdMonday | wdTuesday | wdWednesday | wdThursday | wdFriday;

// Due every day (or on the chosen weekdays) at a local time of day, plus the job's splay. The time
// follows the local clock: 08:00 stays 08:00 across a daylight-saving change. On the day the clock
// skips the time it falls on the moment of the change; on the day it repeats it, the first of the two
// counts, and the run settles the second. Occurrences before the job was first seen are not owed.
class TStartConditionDaily : public TStartConditionTimed {
public:
  std::string ClassName() const override { return "TStartConditionDaily"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;
  TConditionKind GetKind() const override { return ckDaily; }
  std::string InvalidReason() const override;

  // Seconds after local midnight, 0 to 86399.
  int32_t GetTimeOfDay() const { return FTimeOfDay; }
  void SetTimeOfDay(int32_t ASeconds) {
    FTimeOfDay = ASeconds;
    MarkChanged();
  }
  void SetTimeOfDay(int AHour, int AMinute, int ASecond = 0) {
    FTimeOfDay = (AHour * 60 + AMinute) * 60 + ASecond;
    MarkChanged();
  }
  // TWeekDay bits of the days it runs on; CEveryDay (no bit) for every day.
  uint8_t GetWeekDays() const { return FWeekDays; }
  void SetWeekDays(uint8_t AValue) {
    FWeekDays = AValue;
    MarkChanged();
  }
  bool RunsOn(int ADayOfWeek) const;

protected:
  TDateTime FirstOwed(const TMarks& AMarks) const override;
  bool GetIsRecurring() const override { return true; }

private:
  // The occurrence of the local date ADate (a whole day number), UTC.
  TDateTime OccurrenceOn(double ADate, int32_t ASplaySeconds) const;

  int32_t FTimeOfDay = 0;
  uint8_t FWeekDays = CEveryDay;
};

}  // namespace Orvane
