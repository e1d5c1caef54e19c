#include "OrvaneCore/Platform/DynamicLibrary.h"

#include <utility>

// What both sides share: the ownership of the handle, which each side's Close gives back, and the
// checks before a symbol is looked up.

namespace Orvane {

TDynamicLibrary::~TDynamicLibrary() {
  Close();
}

TDynamicLibrary::TDynamicLibrary(TDynamicLibrary&& AOther) noexcept
    : FHandle(std::exchange(AOther.FHandle, nullptr)),
      FPath(std::move(AOther.FPath)),
      FLastErrorText(std::move(AOther.FLastErrorText)) {}

TDynamicLibrary& TDynamicLibrary::operator=(TDynamicLibrary&& AOther) noexcept {
  if (this != &AOther) {
    Close();
    FHandle = std::exchange(AOther.FHandle, nullptr);
    FPath = std::move(AOther.FPath);
    FLastErrorText = std::move(AOther.FLastErrorText);
  }
  return *this;
}

void* TDynamicLibrary::Symbol(const char* AName) {
  if (!FHandle) {
    FLastErrorText = "library not loaded: " + FPath;
    return nullptr;
  }
  if (!AName) {
    FLastErrorText = "no symbol name given";
    return nullptr;
  }
  return LookUp(AName);
}

void* TDynamicLibrary::Release() {
  return std::exchange(FHandle, nullptr);
}

}  // namespace Orvane
