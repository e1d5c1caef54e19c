#include "OrvaneCore/Conditions/StartConditionOnShutdown.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionOnShutdown, TStartCondition);

TDateTime TStartConditionOnShutdown::CalcNextExecution(TDateTime ANow, TStartConditionStorage&) {
  if (!Enabled) return CNoDateTime;
  const TSystemRunInfoPtr LRunInfo = GetSystemRunInfo();
  return LRunInfo && LRunInfo->GetIsShutdownPass() ? ANow : CNoDateTime;
}

TDateTime TStartConditionOnShutdown::NextPlannedTime(TDateTime, const TStartConditionStorage&) const {
  return CNoDateTime;
}

}  // namespace Orvane
