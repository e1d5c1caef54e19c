#include "OrvaneCore/Conditions/StartConditionOnce.h"

#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionOnce, TStartConditionTimed);

void TStartConditionOnce::DescribeMembers(IMemberVisitor& AVisitor) {
  TStartConditionTimed::DescribeMembers(AVisitor);
  AVisitor.DateTime("StartTime", FStartTime);
  ReportInvalidDefinition(AVisitor);
}

std::string TStartConditionOnce::InvalidReason() const {
  return FStartTime < 0 ? "no start time" : std::string();
}

TDateTime TStartConditionOnce::FirstOwed(const TMarks& AMarks) const {
  const TDateTime LDue = IncSeconds(FirstUtcAtOrAfterLocal(FStartTime), AMarks.SplaySeconds);
  return CompareDateTime(LDue, AMarks.SettledUntil()) > 0 ? LDue : CNoDateTime;
}

}  // namespace Orvane
