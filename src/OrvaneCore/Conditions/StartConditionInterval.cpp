#include "OrvaneCore/Conditions/StartConditionInterval.h"

#include <cmath>

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionInterval, TStartConditionTimed);

void TStartConditionInterval::DescribeMembers(IMemberVisitor& AVisitor) {
  TStartConditionTimed::DescribeMembers(AVisitor);
  AVisitor.Integer("IntervalValue", FIntervalValue);
  uint8_t LUnit = static_cast<uint8_t>(FIntervalUnit);
  AVisitor.Byte("IntervalUnit", LUnit);
  if (AVisitor.ModifiesTarget()) FIntervalUnit = static_cast<TDelayUnit>(LUnit);
  ReportInvalidDefinition(AVisitor);
}

std::string TStartConditionInterval::InvalidReason() const {
  if (FIntervalValue <= 0) return "interval " + std::to_string(FIntervalValue) + " is not positive";
  if (static_cast<uint8_t>(FIntervalUnit) > static_cast<uint8_t>(TDelayUnit::duDays))
    return "interval unit " + std::to_string(static_cast<int>(FIntervalUnit)) + " is unknown";
  return std::string();
}

double TStartConditionInterval::IntervalSeconds() const {
  switch (FIntervalUnit) {
    case TDelayUnit::duMinutes:
      return FIntervalValue * 60.0;
    case TDelayUnit::duHours:
      return FIntervalValue * 3600.0;
    case TDelayUnit::duDays:
      return FIntervalValue * CSecondsPerDay;
  }
  return 0;
}

TDateTime TStartConditionInterval::FirstOwed(const TMarks& AMarks) const {
  const double LInterval = IntervalSeconds();
  if (LInterval <= 0) return CNoDateTime;
  // The regular times: the last run plus whole intervals, or, before the first run, the moment the
  // job was first seen plus its splay and whole intervals after that.
  TDateTime LFirst;
  if (AMarks.LastRun >= 0)
    LFirst = IncSeconds(AMarks.LastRun, LInterval);
  else if (AMarks.Anchor >= 0)
    LFirst = IncSeconds(AMarks.Anchor, AMarks.SplaySeconds);
  else
    return CNoDateTime;
  if (AMarks.SkippedUntil < 0 || LFirst > AMarks.SkippedUntil) return LFirst;
  const double LSteps = std::floor(SecondsBetween(LFirst, AMarks.SkippedUntil) / LInterval) + 1;
  return IncSeconds(LFirst, LSteps * LInterval);
}

}  // namespace Orvane
