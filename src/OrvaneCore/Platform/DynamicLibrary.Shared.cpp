#include "OrvaneCore/Platform/DynamicLibrary.h"

#include <utility>

// What both sides share: the ownership of the handle, which each side's Close gives back.

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

}  // namespace Orvane
