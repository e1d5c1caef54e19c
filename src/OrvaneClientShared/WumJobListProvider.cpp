#include "OrvaneClientShared/WumJobListProvider.h"

#include "OrvaneCore/Platform/Mutex.h"

namespace Orvane {

namespace {
TMutex GLock;
std::shared_ptr<TOrvaneObject> GWumJobListProvider GUARDED_BY(GLock);
}  // namespace

std::shared_ptr<TOrvaneObject> GetWumJobListProvider() {
  TMutexLock LLock(GLock);
  return GWumJobListProvider;
}

void SetWumJobListProvider(std::shared_ptr<TOrvaneObject> AValue) {
  TMutexLock LLock(GLock);
  GWumJobListProvider = std::move(AValue);
}

}  // namespace Orvane
