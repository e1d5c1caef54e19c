#include "OrvaneCore/Data/ClassRegistry.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

namespace {
struct TClassEntry {
  TClassName Parent;
  TClassRegistry::TFactory Factory;
};
}  // namespace

struct TClassRegistry::TState {
  mutable std::mutex Lock;
  // Hashed: every polymorphic member that is cloned or read looks its class up here.
  std::unordered_map<TClassName, TClassEntry> Classes;  // guarded by Lock
};

TClassRegistry::TClassRegistry() : FState(std::make_unique<TState>()) {}

TClassRegistry& TClassRegistry::Instance() {
  // Never destroyed: static initialisers of every library register into it, and static
  // destructors may still create records.
  static TClassRegistry* LInstance = new TClassRegistry();
  return *LInstance;
}

void TClassRegistry::Register(const TClassName& AName, const TClassName& AParent, TFactory AFactory) {
  std::lock_guard LLock(FState->Lock);
  FState->Classes[AName] = {AParent, std::move(AFactory)};
}

bool TClassRegistry::IsRegistered(const TClassName& AName) const {
  std::lock_guard LLock(FState->Lock);
  return FState->Classes.count(AName) != 0;
}

std::shared_ptr<TTessraData> TClassRegistry::Create(const TClassName& AName) const {
  TFactory LFactory;
  {
    std::lock_guard LLock(FState->Lock);
    auto LFound = FState->Classes.find(AName);
    if (LFound == FState->Classes.end()) return nullptr;
    LFactory = LFound->second.Factory;
  }
  return LFactory ? LFactory() : nullptr;
}

std::shared_ptr<TTessraData> TClassRegistry::CreateOrRaise(const TClassName& AName) const {
  std::shared_ptr<TTessraData> LObject = Create(AName);
  if (!LObject) throw EClassNotFound("Class \"" + AName + "\" is not registered or cannot be created");
  return LObject;
}

TClassName TClassRegistry::ParentOf(const TClassName& AName) const {
  std::lock_guard LLock(FState->Lock);
  auto LFound = FState->Classes.find(AName);
  return LFound == FState->Classes.end() ? TClassName() : LFound->second.Parent;
}

bool TClassRegistry::InheritsFrom(const TClassName& AName, const TClassName& AAncestor) const {
  std::lock_guard LLock(FState->Lock);
  // Walks the names in place: entries are neither moved nor erased while the lock is held.
  const TClassName* LCurrent = &AName;
  // The chain is bounded by the number of classes, also if a broken registration made a cycle.
  for (std::size_t LSteps = 0; LSteps <= FState->Classes.size(); ++LSteps) {
    auto LFound = FState->Classes.find(*LCurrent);
    if (LFound == FState->Classes.end()) return false;
    if (*LCurrent == AAncestor) return true;
    LCurrent = &LFound->second.Parent;
  }
  return false;
}

std::vector<TClassName> TClassRegistry::ClassNames() const {
  std::lock_guard LLock(FState->Lock);
  std::vector<TClassName> LNames;
  for (const auto& [LName, LEntry] : FState->Classes) LNames.push_back(LName);
  std::sort(LNames.begin(), LNames.end());
  return LNames;
}

}  // namespace Orvane
