#pragma once

#include <cstdint>
#include <memory>

#include "OrvaneCore/Conditions/StartConditionStorage.h"
#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Jobs/SystemRunInfo.h"
#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

// The set of start-condition kinds, one bit per kind ordinal.
using TConditions = uint16_t;
inline constexpr TConditions CAllConditions = 0xFFFF;

// Kind ordinals. The shutdown kind has ordinal 9.
enum TConditionKind : uint8_t {
  ckOnce = 0,
  ckDaily = 1,
  ckInterval = 2,
  ckAgentStart = 3,
  ckDelay = 4,
  ckShutdown = 9,
};

constexpr TConditions ConditionSetOf(TConditionKind AKind) { return static_cast<TConditions>(1u << AKind); }
inline constexpr TConditions CShutdownConditions = ConditionSetOf(ckShutdown);

// A start condition answers "due" or "not due" as a pure function of the moment it is asked for,
// its options, its storage and the run information:
// - CalcNextExecution returns -1.0 while the job is not due, and once it is due the moment at which
//   it became due (never later than ANow), so that overdue jobs rank by how long they waited;
// - SetAlreadyRunFlag(true) records the run in the storage; false records a drop and changes no
//   schedule;
// - after SetIsReEvaluationRun(true) the next evaluation is the dispatcher's re-check; a kind that
//   depends on a one-time event answers it as the pass that queued the job did.
class TStartCondition : public TTessraData {
public:
  std::string ClassName() const override { return "TStartCondition"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  virtual TConditionKind GetKind() const = 0;
  virtual TDateTime CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) = 0;
  virtual bool GetReEvaluateBeforeRun() const { return false; }
  virtual void SetIsReEvaluationRun(bool AValue);
  virtual void SetAlreadyRunFlag(bool AValue, TDateTime ANow, TStartConditionStorage& AStorage);
  // For display only: when the job will be due if nothing changes; -1.0 when unknown.
  virtual TDateTime NextPlannedTime(TDateTime ANow, const TStartConditionStorage& AStorage) const;

  void SetSystemRunInfo(TSystemRunInfoPtr AValue);
  TSystemRunInfoPtr GetSystemRunInfo() const;

  bool GetEnabled() const { return Enabled; }
  // The name of this condition's storage within its job; the facade gives it once.
  const std::string& GetStorageName() const { return StorageName; }
  void SetStorageName(std::string AValue) {
    StorageName = std::move(AValue);
    MarkChanged();
  }

  // Options: written while the job is being defined, read during evaluation.
  bool Enabled = true;
  std::string StorageName;

protected:
  bool GetIsReEvaluationRun() const;

private:
  mutable TMutex FLock;
  TSystemRunInfoPtr FSystemRunInfo GUARDED_BY(FLock);
  bool FIsReEvaluationRun GUARDED_BY(FLock) = false;
};

using TStartConditionPtr = std::shared_ptr<TStartCondition>;

// Unit of a delay value; minutes come first.
enum class TDelayUnit : uint8_t { duMinutes = 0, duHours = 1, duDays = 2 };

// Due a fixed delay after the moment the condition was created. The creation moment is kept in the
// job's data, so a delayed manual job keeps its due time across a restart.
class TStartConditionOnDelay : public TStartCondition {
public:
  TStartConditionOnDelay();
  std::string ClassName() const override { return "TStartConditionOnDelay"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  TConditionKind GetKind() const override { return ckDelay; }
  TDateTime CalcNextExecution(TDateTime ANow, TStartConditionStorage& AStorage) override;
  TDateTime NextPlannedTime(TDateTime ANow, const TStartConditionStorage& AStorage) const override;

  void SetDelayValue(int32_t AValue) {
    FDelayValue = AValue;
    MarkChanged();
  }
  int32_t GetDelayValue() const { return FDelayValue; }
  void SetValueUnit(TDelayUnit AValue) {
    FValueUnit = AValue;
    MarkChanged();
  }
  TDelayUnit GetValueUnit() const { return FValueUnit; }
  // Local time of creation.
  TDateTime GetCreated() const { return FCreated; }
  void SetCreated(TDateTime AValue) {
    FCreated = AValue;
    MarkChanged();
  }
  // The local due moment: creation plus the delay.
  TDateTime DueTime() const;

private:
  int32_t FDelayValue = 0;
  TDelayUnit FValueUnit = TDelayUnit::duMinutes;
  TDateTime FCreated;
};

}  // namespace Orvane
