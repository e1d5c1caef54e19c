#pragma once

#include "OrvaneCore/Conditions/StartCondition.h"

namespace Orvane {

// Due in the pass after the agent started (the run information's IsStartupPass), since the moment of
// that pass, which the storage keeps as its anchor: the dispatcher's re-check, which may come after
// the startup pass has ended, answers as that pass did until the job has run or been dropped.
// Without run information the agent's start is unknown and the condition is never due; nor is it
// while the service stops.
class TStartConditionOnAgentStart : public TStartCondition {
public:
  std::string ClassName() const override { return "TStartConditionOnAgentStart"; }
  TConditionKind GetKind() const override { return ckAgentStart; }
  TDateTime CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) override;
  // The next start cannot be foreseen: always -1.0.
  TDateTime NextPlannedTime(TDateTime ANow, const TStartConditionStorage& AStorage) const override;
};

}  // namespace Orvane
