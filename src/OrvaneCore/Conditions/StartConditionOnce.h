#pragma once

#include "OrvaneCore/Conditions/StartConditionTimed.h"

namespace Orvane {

// Due once, at a given local time (plus the job's splay). After the run it never falls due again,
// whatever the clock does; a start time moved past the last run makes it due once more. An agent that first
// learns of the job after its time runs it at once; catch-up decides only about a time that came while the
// agent was off.
class TStartConditionOnce : public TStartConditionTimed {
public:
  std::string ClassName() const override { return "TStartConditionOnce"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;
  TConditionKind GetKind() const override { return ckOnce; }
  std::string InvalidReason() const override;

  // Local time; -1.0 until set.
  TDateTime GetStartTime() const { return FStartTime; }
  void SetStartTime(TDateTime AValue) {
    FStartTime = AValue;
    MarkChanged();
  }

protected:
  TDateTime FirstOwed(const TMarks& AMarks) const override;
  bool GetIsRecurring() const override { return false; }

private:
  TDateTime FStartTime = CNoDateTime;
};

}  // namespace Orvane
