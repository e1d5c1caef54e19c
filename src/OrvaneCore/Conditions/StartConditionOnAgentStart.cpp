#include "OrvaneCore/Conditions/StartConditionOnAgentStart.h"

#include <algorithm>

#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionOnAgentStart, TStartCondition);

TDateTime TStartConditionOnAgentStart::CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) {
  if (!Enabled) return CNoDateTime;
  const TSystemRunInfoPtr LRunInfo = GetSystemRunInfo();
  if (!LRunInfo || LRunInfo->GetIsStopping()) return CNoDateTime;
  // Owed: it fell due at the anchor and has neither run nor been dropped since.
  const TDateTime LAnchor = AStorage.GetAnchor();
  const bool LOwed = LAnchor >= 0 && CompareDateTime(AStorage.GetLastRun(), LAnchor) < 0 &&
                     CompareDateTime(AStorage.GetLastDrop(), LAnchor) < 0;
  if (LRunInfo->GetIsStartupPass()) {
    if (LOwed) return std::min(LocalOfUtc(LAnchor), ANow);
    AStorage.SetAnchor(LocalNowToUtc(ANow));
    return ANow;
  }
  if (GetIsReEvaluationRun() && LOwed) return std::min(LocalOfUtc(LAnchor), ANow);
  return CNoDateTime;
}

TDateTime TStartConditionOnAgentStart::NextPlannedTime(TDateTime, const TStartConditionStorage&) const {
  return CNoDateTime;
}

}  // namespace Orvane
