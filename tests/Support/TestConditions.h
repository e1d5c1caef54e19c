#pragma once

#include "OrvaneCore/Conditions/StartCondition.h"

namespace Orvane::Testing {

// A condition whose answer the test sets: due since FDueSince once ANow reaches it, of a chosen kind.
class TFixedCondition : public TStartCondition {
public:
  std::string ClassName() const override { return "TFixedCondition"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override {
    TStartCondition::DescribeMembers(AVisitor);
    AVisitor.DateTime("DueSince", DueSince);
    AVisitor.Byte("Kind", Kind);
    AVisitor.Boolean("ReEvaluate", ReEvaluate);
  }
  TConditionKind GetKind() const override { return static_cast<TConditionKind>(Kind); }
  TDateTime CalcNextExecution(TDateTime ANow, TStartConditionStorage&) override {
    return DueSince >= 0 && ANow >= DueSince ? DueSince : CNoDateTime;
  }
  bool GetReEvaluateBeforeRun() const override { return ReEvaluate; }

  TDateTime DueSince = CNoDateTime;
  uint8_t Kind = ckOnce;
  bool ReEvaluate = false;
};

inline const TClassRegistration<TFixedCondition> GFixedConditionRegistration("TFixedCondition", "TStartCondition");

inline std::shared_ptr<TFixedCondition> FixedCondition(TDateTime ADueSince, uint8_t AKind = ckOnce) {
  auto LCondition = std::make_shared<TFixedCondition>();
  LCondition->DueSince = ADueSince;
  LCondition->Kind = AKind;
  return LCondition;
}

}  // namespace Orvane::Testing
