#pragma once

#include <memory>
#include <vector>

#include "OrvaneCore/Conditions/StartCondition.h"

namespace Orvane {

// A job's start conditions and their storages. Every job owns one, possibly empty. A job is due
// when any of its enabled conditions is due; it is then due since the earliest such moment.
//
// The lists change only while the job is not shared (while it is defined, or assigned as an idle
// job under the job list's lock); evaluations read them. Each condition finds its storage by the
// storage name it was given when it was added.
class TStartConditionFacade : public TTessraData {
public:
  TStartConditionFacade();
  std::string ClassName() const override { return "TStartConditionFacade"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  bool GetEnabled() const;
  TDateTime CalcNextExecution(TDateTime ANow);
  bool GetReEvaluateBeforeRun() const;
  void SetIsReEvaluationRun(bool AValue);
  // Records a run (true) or a drop (false) of the job at the clock's current time.
  void SetAlreadyRunFlag(bool AValue);
  // The kinds of every condition the facade holds.
  TConditions GetConditionKinds() const;
  // For display only: the earliest moment any enabled condition expects to be due; -1.0 if none.
  TDateTime NextPlannedTime(TDateTime ANow) const;

  void SetSystemRunInfo(const TSystemRunInfoPtr& AValue);

  // Appends a condition (the facade owns it), naming its storage if it has no name yet and
  // creating the storage.
  void AddCondition(TStartConditionPtr ACondition);
  const std::vector<TStartConditionPtr>& GetConditions() const { return FConditions; }
  // Makes sure every condition has a named storage in the list (after loading, say).
  void EnsureStorages();

  // The live storage list (shared with the storage manager while the job is registered there).
  const TStorageListPtr& GetStorages() const { return FStorages; }
  // Takes AList as the live list object, keeping the storage objects of AKeep whose names equal
  // one of this facade's storages; the other entries of this facade's list fill it.
  void AdoptStorages(const TStorageListPtr& AList, const TStorageList& AKeep);

  TStartConditionStoragePtr StorageFor(const TStartCondition& ACondition) const;

  // Conditions and storages own no records, so their own stamps suffice.
  uint64_t GetContentStamp() const override;

private:
  // StorageFor without sharing the reference: evaluations ask for it for every job in every turn.
  TStartConditionStorage& StorageOf(const TStartCondition& ACondition) const;

  std::vector<TStartConditionPtr> FConditions;
  TStorageListPtr FStorages;
};

using TStartConditionFacadePtr = std::shared_ptr<TStartConditionFacade>;

// Whether a job with these start conditions takes part in a pass restricted to AAllowed: with
// CAllConditions every job does; otherwise a job whose facade holds at least one allowed kind.
bool IsAllowedByConditions(const TStartConditionFacade& AFacade, TConditions AAllowed);

}  // namespace Orvane
