#include "OrvaneCore/Platform/NamedMutex.h"

#include <unordered_map>

#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

namespace {

class TNamedMutexRegistry {
public:
  std::shared_ptr<std::recursive_mutex> Get(const std::string& AKey) {
    TMutexLock LLock(FLock);
    std::weak_ptr<std::recursive_mutex>& LEntry = FEntries[AKey];
    std::shared_ptr<std::recursive_mutex> LMutex = LEntry.lock();
    if (!LMutex) {
      LMutex = std::make_shared<std::recursive_mutex>();
      LEntry = LMutex;
    }
    return LMutex;
  }

  // Drops the caller's reference and the entry with it when that was the last one. Both happen
  // under the registry lock, so that Get never sees an entry that is about to be erased.
  void Put(const std::string& AKey, std::shared_ptr<std::recursive_mutex>& AMutex) {
    TMutexLock LLock(FLock);
    AMutex.reset();
    auto LFound = FEntries.find(AKey);
    if (LFound != FEntries.end() && LFound->second.expired()) FEntries.erase(LFound);
  }

  std::size_t Count() {
    TMutexLock LLock(FLock);
    return FEntries.size();
  }

private:
  TMutex FLock;
  std::unordered_map<std::string, std::weak_ptr<std::recursive_mutex>> FEntries GUARDED_BY(FLock);
};

// Never destroyed: named mutexes held by static objects may outlive any destruction order.
TNamedMutexRegistry& Registry() {
  static TNamedMutexRegistry* LRegistry = new TNamedMutexRegistry;
  return *LRegistry;
}

std::string FoldName(std::string_view AName) {
  std::string LKey(AName);
  for (char& LChar : LKey) {
    if (LChar >= 'A' && LChar <= 'Z') LChar = static_cast<char>(LChar - 'A' + 'a');
  }
  return LKey;
}

}  // namespace

TNamedMutex::TNamedMutex(std::string_view AName) : FName(AName), FMutex(Registry().Get(FoldName(AName))) {}

TNamedMutex::~TNamedMutex() {
  Registry().Put(FoldName(FName), FMutex);
}

std::size_t TNamedMutex::RegisteredNameCountForTesting() {
  return Registry().Count();
}

}  // namespace Orvane
