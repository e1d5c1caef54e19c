#pragma once

#include "OrvaneCore/Conditions/StartConditionTimed.h"

namespace Orvane {

// Due every N minutes or hours of real elapsed time, counted from the last run, which the storage
// keeps: an agent restart neither resets the interval nor repeats a run, and a daylight-saving
// change neither shortens nor stretches it. A job never run counts from the moment it was first
// seen plus its splay (so a new job runs at once, or within its splay). The regular times are the
// last run plus whole intervals; a skip at start moves on to the next of them.
class TStartConditionInterval : public TStartConditionTimed {
public:
  std::string ClassName() const override { return "TStartConditionInterval"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;
  TConditionKind GetKind() const override { return ckInterval; }
  std::string InvalidReason() const override;

  int32_t GetIntervalValue() const { return FIntervalValue; }
  void SetIntervalValue(int32_t AValue) {
    FIntervalValue = AValue;
    MarkChanged();
  }
  TDelayUnit GetIntervalUnit() const { return FIntervalUnit; }
  void SetIntervalUnit(TDelayUnit AValue) {
    FIntervalUnit = AValue;
    MarkChanged();
  }
  double IntervalSeconds() const;

protected:
  TDateTime FirstOwed(const TMarks& AMarks) const override;
  bool GetIsRecurring() const override { return true; }

private:
  int32_t FIntervalValue = 0;
  TDelayUnit FIntervalUnit = TDelayUnit::duMinutes;
};

}  // namespace Orvane
