#include "OrvaneCore/Conditions/StartConditionFacade.h"

#include <algorithm>

#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Conditions/StartConditionTime.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionFacade, TTessraData);

TStartConditionFacade::TStartConditionFacade() : FStorages(std::make_shared<TStorageList>()) {}

void TStartConditionFacade::DescribeMembers(IMemberVisitor& AVisitor) {
  TTessraData::DescribeMembers(AVisitor);
  AVisitor.ObjectList("Conditions", MakeObjectListSlot("TStartCondition", FConditions));
  AVisitor.ObjectList("Storages", MakeObjectListSlot("TStartConditionStorage", *FStorages));
}

bool TStartConditionFacade::GetEnabled() const {
  return std::any_of(FConditions.begin(), FConditions.end(),
                     [](const TStartConditionPtr& ACondition) { return ACondition->GetEnabled(); });
}

TDateTime TStartConditionFacade::CalcNextExecution(TDateTime ANow) {
  const TZoneOffsetScope LZone;
  TDateTime LResult = CNoDateTime;
  for (const TStartConditionPtr& LCondition : FConditions) {
    if (!LCondition->GetEnabled()) continue;
    const TDateTime LDue = LCondition->CalcNextExecution(ANow, StorageOf(*LCondition));
    if (LDue < 0) continue;
    const TDateTime LSince = std::min(LDue, ANow);
    if (LResult < 0 || LSince < LResult) LResult = LSince;
  }
  return LResult;
}

bool TStartConditionFacade::GetReEvaluateBeforeRun() const {
  return std::any_of(FConditions.begin(), FConditions.end(), [](const TStartConditionPtr& ACondition) {
    return ACondition->GetEnabled() && ACondition->GetReEvaluateBeforeRun();
  });
}

void TStartConditionFacade::SetIsReEvaluationRun(bool AValue) {
  for (const TStartConditionPtr& LCondition : FConditions) LCondition->SetIsReEvaluationRun(AValue);
}

void TStartConditionFacade::SetAlreadyRunFlag(bool AValue) {
  const TDateTime LNow = Now();
  for (const TStartConditionPtr& LCondition : FConditions)
    LCondition->SetAlreadyRunFlag(AValue, LNow, StorageOf(*LCondition));
}

TConditions TStartConditionFacade::GetConditionKinds() const {
  TConditions LKinds = 0;
  for (const TStartConditionPtr& LCondition : FConditions) LKinds |= ConditionSetOf(LCondition->GetKind());
  return LKinds;
}

TDateTime TStartConditionFacade::NextPlannedTime(TDateTime ANow) const {
  const TZoneOffsetScope LZone;
  TDateTime LResult = CNoDateTime;
  for (const TStartConditionPtr& LCondition : FConditions) {
    if (!LCondition->GetEnabled()) continue;
    const TDateTime LPlanned = LCondition->NextPlannedTime(ANow, StorageOf(*LCondition));
    if (LPlanned >= 0 && (LResult < 0 || LPlanned < LResult)) LResult = LPlanned;
  }
  return LResult;
}

void TStartConditionFacade::SetSystemRunInfo(const TSystemRunInfoPtr& AValue) {
  for (const TStartConditionPtr& LCondition : FConditions) LCondition->SetSystemRunInfo(AValue);
}

void TStartConditionFacade::AddCondition(TStartConditionPtr ACondition) {
  if (!ACondition) return;
  FConditions.push_back(std::move(ACondition));
  MarkChanged();
  EnsureStorages();
}

void TStartConditionFacade::EnsureStorages() {
  for (std::size_t I = 0; I < FConditions.size(); ++I) {
    TStartCondition& LCondition = *FConditions[I];
    if (LCondition.GetStorageName().empty()) {
      // The class name and the first free number: unique within the job, and kept in the job's
      // data, so the same storage is found again after a restart.
      for (int LNumber = 1;; ++LNumber) {
        std::string LName = LCondition.ClassName() + "#" + std::to_string(LNumber);
        const bool LTaken = std::any_of(FConditions.begin(), FConditions.end(), [&](const TStartConditionPtr& AOther) {
          return SameText(AOther->GetStorageName(), LName);
        });
        if (!LTaken) {
          LCondition.SetStorageName(std::move(LName));
          break;
        }
      }
    }
    StorageFor(LCondition);
  }
}

namespace {

// Storage names are made from the condition's own name, so they are mostly equal byte for byte.
bool SameStorageName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && (A == B || SameText(A, B));
}

}  // namespace

TStartConditionStorage& TStartConditionFacade::StorageOf(const TStartCondition& ACondition) const {
  for (const TStartConditionStoragePtr& LStorage : *FStorages)
    if (SameStorageName(LStorage->GetName(), ACondition.GetStorageName())) return *LStorage;
  return *StorageFor(ACondition);
}

TStartConditionStoragePtr TStartConditionFacade::StorageFor(const TStartCondition& ACondition) const {
  for (const TStartConditionStoragePtr& LStorage : *FStorages)
    if (SameStorageName(LStorage->GetName(), ACondition.GetStorageName())) return LStorage;
  auto LStorage = std::make_shared<TStartConditionStorage>();
  LStorage->SetName(ACondition.GetStorageName());
  FStorages->push_back(LStorage);
  MarkChanged();
  return LStorage;
}

void TStartConditionFacade::AdoptStorages(const TStorageListPtr& AList, const TStorageList& AKeep) {
  TStorageList LMerged;
  for (const TStartConditionStoragePtr& LOwn : *FStorages) {
    auto LKept = std::find_if(AKeep.begin(), AKeep.end(), [&](const TStartConditionStoragePtr& AOld) {
      return SameText(AOld->GetName(), LOwn->GetName());
    });
    LMerged.push_back(LKept != AKeep.end() ? *LKept : LOwn);
  }
  *AList = std::move(LMerged);
  FStorages = AList;
  MarkChanged();
}

uint64_t TStartConditionFacade::GetContentStamp() const {
  uint64_t LStamp = GetChangeStamp();
  for (const TStartConditionPtr& LCondition : FConditions)
    LStamp = std::max(LStamp, LCondition->GetChangeStamp());
  for (const TStartConditionStoragePtr& LStorage : *FStorages)
    LStamp = std::max(LStamp, LStorage->GetChangeStamp());
  return LStamp;
}

bool IsAllowedByConditions(const TStartConditionFacade& AFacade, TConditions AAllowed) {
  return AAllowed == CAllConditions || (AFacade.GetConditionKinds() & AAllowed) != 0;
}

}  // namespace Orvane
