#include "OrvaneCore/Conditions/StartCondition.h"

#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {

ORVANE_REGISTER_ABSTRACT_CLASS(TStartCondition, TTessraData);
ORVANE_REGISTER_CLASS(TStartConditionOnDelay, TStartCondition);

void TStartCondition::DescribeMembers(IMemberVisitor& AVisitor) {
  TTessraData::DescribeMembers(AVisitor);
  AVisitor.Boolean("Enabled", Enabled);
  AVisitor.String("StorageName", StorageName);
}

void TStartCondition::SetIsReEvaluationRun(bool AValue) {
  TMutexLock LLock(FLock);
  FIsReEvaluationRun = AValue;
}

bool TStartCondition::GetIsReEvaluationRun() const {
  TMutexLock LLock(FLock);
  return FIsReEvaluationRun;
}

void TStartCondition::SetAlreadyRunFlag(bool AValue, TDateTime ANow, TStartConditionStorage& AStorage) {
  if (AValue)
    AStorage.SetLastRun(LocalNowToUtc(ANow));
  else
    AStorage.SetLastDrop(LocalNowToUtc(ANow));
}

TDateTime TStartCondition::NextPlannedTime(TDateTime, const TStartConditionStorage&) const { return CNoDateTime; }

void TStartCondition::SetSystemRunInfo(TSystemRunInfoPtr AValue) {
  TMutexLock LLock(FLock);
  FSystemRunInfo = std::move(AValue);
}

TSystemRunInfoPtr TStartCondition::GetSystemRunInfo() const {
  TMutexLock LLock(FLock);
  return FSystemRunInfo;
}

TStartConditionOnDelay::TStartConditionOnDelay() : FCreated(Now()) {}

void TStartConditionOnDelay::DescribeMembers(IMemberVisitor& AVisitor) {
  TStartCondition::DescribeMembers(AVisitor);
  AVisitor.Integer("DelayValue", FDelayValue);
  uint8_t LUnit = static_cast<uint8_t>(FValueUnit);
  AVisitor.Byte("ValueUnit", LUnit);
  if (AVisitor.ModifiesTarget()) FValueUnit = static_cast<TDelayUnit>(LUnit <= 2 ? LUnit : 0);
  AVisitor.DateTime("Created", FCreated);
}

TDateTime TStartConditionOnDelay::DueTime() const {
  double LSecondsPerUnit = 60.0;
  if (FValueUnit == TDelayUnit::duHours) LSecondsPerUnit = 3600.0;
  if (FValueUnit == TDelayUnit::duDays) LSecondsPerUnit = CSecondsPerDay;
  return IncSeconds(FCreated, FDelayValue * LSecondsPerUnit);
}

TDateTime TStartConditionOnDelay::CalcNextExecution(TDateTime ANow, TStartConditionStorage&) {
  if (!Enabled) return CNoDateTime;
  const TDateTime LDue = DueTime();
  return CompareDateTime(ANow, LDue) >= 0 ? LDue : CNoDateTime;
}

TDateTime TStartConditionOnDelay::NextPlannedTime(TDateTime, const TStartConditionStorage&) const {
  return Enabled ? DueTime() : CNoDateTime;
}

}  // namespace Orvane
