#include "JobManagement/Storage/StartConditionStorageManager.h"

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"
#include "OrvaneCore/Data/CollectionUpdater.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"

namespace Orvane {

TStorageListPtr TConditionStoresDict::Find(const std::string& AKey) const {
  const auto LFound = FIndex.find(AKey);
  return LFound == FIndex.end() ? nullptr : LFound->second->second;
}

void TConditionStoresDict::Add(const std::string& AKey, TStorageListPtr AList) {
  if (ContainsKey(AKey))
    throw EListError("Duplicates not allowed: the key \"" + AKey + "\" is present already");
  FEntries.emplace_back(AKey, std::move(AList));
  FIndex.emplace(AKey, std::prev(FEntries.end()));
}

void TConditionStoresDict::AddOrSetValue(const std::string& AKey, TStorageListPtr AList) {
  const auto LFound = FIndex.find(AKey);
  if (LFound == FIndex.end())
    Add(AKey, std::move(AList));
  else
    LFound->second->second = std::move(AList);
}

void TConditionStoresDict::Remove(const std::string& AKey) {
  const auto LFound = FIndex.find(AKey);
  if (LFound == FIndex.end()) return;
  FEntries.erase(LFound->second);
  FIndex.erase(LFound);
}

void TConditionStoresDict::Clear() {
  FIndex.clear();
  FEntries.clear();
}

void TStartConditionStorageManager::LoadConditionStorages() {
  if (FStoresLoaded) return;
  // Loaded whatever happens below: a file that cannot be read now will not be readable on a second
  // try either, and the next save replaces it with the state the jobs have.
  struct TMarkLoaded {
    bool& Flag;
    ~TMarkLoaded() { Flag = true; }
  } LMarkLoaded{FStoresLoaded};
  TConditionStoresDict LLoaded;
  InternalLoadStorages(LLoaded);
  MergeLoadedStorages(LLoaded);
}

void TStartConditionStorageManager::MergeLoadedStorages(const TConditionStoresDict& ALoaded) {
  for (const TConditionStoresDict::TEntry& LEntry : ALoaded) {
    const std::string& LKey = LEntry.first;
    if (const TStorageListPtr LLive = FActiveStoresDict.Find(LKey)) {
      ApplyStoredStorages(*LEntry.second, *LLive);
    } else if (FInactiveStoresDict.ContainsKey(LKey)) {
      // The job left before the file was read, so its copy never received what the file knows
      // (its last run, its splay, when it was first seen); the file's state is the better one. At
      // most a run made in that short time is forgotten, and the job runs once more.
      OrvaneLogger()->Message(
          "Stored start-condition state of job \"%s\" replaces the state it had before the file was read",
          {LKey});
      FInactiveStoresDict.AddOrSetValue(LKey, LEntry.second);
    } else {
      FInactiveStoresDict.Add(LKey, LEntry.second);
    }
  }
}

void TStartConditionStorageManager::ApplyStoredStorages(const TStorageList& ASource, TStorageList& ATarget) {
  for (const TStartConditionStoragePtr& LSource : ASource) {
    if (!LSource) continue;
    const std::string LSourceName = LSource->GetName();
    for (const TStartConditionStoragePtr& LTarget : ATarget) {
      if (!LTarget) continue;
      if (!LSourceName.empty() && !SameText(LTarget->GetName(), LSourceName)) continue;
      // The name stays the target's: it is how the target's condition finds its storage, and a
      // nameless stored storage would otherwise leave the condition without one.
      const std::string LTargetName = LTarget->GetName();
      LTarget->Assign(*LSource);
      LTarget->SetName(LTargetName);
      LTarget->AfterAssign();
      OrvaneLogger()->MessageObject("Store of job after update", LTarget.get());
      break;
    }
  }
}

void TStartConditionStorageManager::RegisterJob(const TJobPtr& AJob) {
  if (!AJob) return;
  const std::string LKey = AJob->GetIdentifier();
  const TStorageListPtr LLive = AJob->GetStartCondition()->GetStorages();
  if (const TStorageListPtr LInactive = FInactiveStoresDict.Find(LKey)) {
    ApplyStoredStorages(*LInactive, *LLive);
    FInactiveStoresDict.Remove(LKey);
  }
  if (!FActiveStoresDict.ContainsKey(LKey)) FActiveStoresDict.Add(LKey, LLive);
}

void TStartConditionStorageManager::UnRegisterJob(const TJobPtr& AJob) {
  if (!AJob) return;
  const std::string LKey = AJob->GetIdentifier();
  FActiveStoresDict.Remove(LKey);
  if (FInactiveStoresDict.ContainsKey(LKey)) return;
  // New storage objects made from the job's, in their order: the job's own may go on changing (a
  // running job that left the list) or go away with it.
  auto LCopy = std::make_shared<TStorageList>();
  TCollectionUpdater<TStartConditionStorage>(CAllUpdateActions)
      .UpdateList(*AJob->GetStartCondition()->GetStorages(), *LCopy);
  FInactiveStoresDict.Add(LKey, std::move(LCopy));
}

bool TStartConditionStorageManager::SaveConditionStorages() {
  if (!FStoresLoaded) return true;
  try {
    InternalSaveStorages(FActiveStoresDict, FInactiveStoresDict);
  } catch (const std::exception& LException) {
    OrvaneLogger()->LogException(LException, MakeContext(*this, "SaveConditionStorages"));
    return false;
  }
  return true;
}

}  // namespace Orvane
