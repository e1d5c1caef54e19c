#include "OrvaneCore/Platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace Orvane {

namespace {

// dlerror's text, or AFallback when the loader kept none (dlerror is per thread and read-once).
std::string TakeDlError(const char* AFallback) {
  const char* LText = dlerror();
  return LText ? std::string(LText) : std::string(AFallback);
}

}  // namespace

TDynamicLibrary TDynamicLibrary::Load(const std::string& APath, bool AKeepLoaded) {
  TDynamicLibrary LLibrary;
  LLibrary.FPath = APath;
  dlerror();
  LLibrary.FHandle = dlopen(APath.c_str(), RTLD_NOW | RTLD_LOCAL | (AKeepLoaded ? RTLD_NODELETE : 0));
  if (!LLibrary.FHandle) LLibrary.FLastErrorText = TakeDlError("dlopen failed");
  return LLibrary;
}

void* TDynamicLibrary::LookUp(const char* AName) {
  dlerror();
  void* LAddress = dlsym(FHandle, AName);
  // A symbol may legitimately have the address null; callers have no use for one, so it counts as
  // missing too.
  if (!LAddress) FLastErrorText = TakeDlError("symbol has a null address");
  return LAddress;
}

void TDynamicLibrary::Close() {
  if (FHandle) dlclose(std::exchange(FHandle, nullptr));
}

int LastOSErrorCode() {
  return errno;
}

namespace {

// The GNU and the XSI strerror_r differ in their result; either gives the text.
[[maybe_unused]] const char* PickErrorText(int, const char* ABuffer) {
  return ABuffer;
}
[[maybe_unused]] const char* PickErrorText(const char* AResult, const char*) {
  return AResult;
}

}  // namespace

std::string OSErrorText(int AErrorCode) {
  char LBuffer[256] = {};
  const char* LText = PickErrorText(strerror_r(AErrorCode, LBuffer, sizeof LBuffer), LBuffer);
  return LText && *LText ? std::string(LText) : "error " + std::to_string(AErrorCode);
}

std::string SharedLibraryFileName(const std::string& ABaseName) {
  return "lib" + ABaseName + ".so";
}

}  // namespace Orvane
