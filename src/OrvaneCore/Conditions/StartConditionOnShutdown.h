#pragma once

#include "OrvaneCore/Conditions/StartCondition.h"

namespace Orvane {

// Due while the system shuts down: in the service's shutdown pass, while the run information's
// IsShutdownPass is set (that pass runs with the service already stopping, so IsStopping does not
// hold it back). A shutdown pass admits only jobs that hold this kind (CShutdownConditions).
class TStartConditionOnShutdown : public TStartCondition {
public:
  std::string ClassName() const override { return "TStartConditionOnShutdown"; }
  TConditionKind GetKind() const override { return ckShutdown; }
  TDateTime CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) override;
  // The next shutdown cannot be foreseen: always -1.0.
  TDateTime NextPlannedTime(TDateTime ANow, const TStartConditionStorage& AStorage) const override;
};

}  // namespace Orvane
