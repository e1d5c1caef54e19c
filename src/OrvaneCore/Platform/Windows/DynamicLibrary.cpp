#include "OrvaneCore/Platform/DynamicLibrary.h"

#include <utility>

#include "OrvaneCore/Platform/Windows/WindowsApi.h"

namespace Orvane {

namespace {

// The loader's text for the calling thread's last error, which it keeps for the caller afterwards
// (building the text may change it).
std::string TakeLoaderError(const std::string& AWhat) {
  const DWORD LError = ::GetLastError();
  std::string LText = AWhat + ": " + WindowsErrorText(LError);
  ::SetLastError(LError);
  return LText;
}

}  // namespace

TDynamicLibrary TDynamicLibrary::Load(const std::string& APath, bool AKeepLoaded) {
  TDynamicLibrary LLibrary;
  LLibrary.FPath = APath;
  std::wstring LPath = Wide(APath);
  for (wchar_t& LChar : LPath)
    if (LChar == L'/') LChar = L'\\';  // the altered search path needs a path in Windows form
  // The library's own DLLs are looked for beside it first, as its run path does on Linux.
  HMODULE LModule = ::LoadLibraryExW(LPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!LModule) {
    LLibrary.FLastErrorText = TakeLoaderError("LoadLibrary " + APath);
    return LLibrary;
  }
  if (AKeepLoaded) {
    HMODULE LPinned = nullptr;
    (void)::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                               reinterpret_cast<LPCWSTR>(LModule), &LPinned);
  }
  LLibrary.FHandle = LModule;
  return LLibrary;
}

void* TDynamicLibrary::LookUp(const char* AName) {
  void* LAddress = reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(FHandle), AName));
  if (!LAddress) FLastErrorText = TakeLoaderError(std::string("GetProcAddress ") + AName);
  return LAddress;
}

void TDynamicLibrary::Close() {
  if (FHandle) ::FreeLibrary(static_cast<HMODULE>(std::exchange(FHandle, nullptr)));
}

int LastOSErrorCode() {
  return static_cast<int>(::GetLastError());
}

std::string OSErrorText(int AErrorCode) {
  return WindowsErrorText(static_cast<DWORD>(AErrorCode));
}

std::string SharedLibraryFileName(const std::string& ABaseName) {
  return ABaseName + ".dll";
}

}  // namespace Orvane
