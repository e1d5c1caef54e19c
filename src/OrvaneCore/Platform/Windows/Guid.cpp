#include "OrvaneCore/Platform/Guid.h"

#include <objbase.h>

#include <stdexcept>

#include "OrvaneCore/Platform/Windows/WindowsApi.h"

namespace Orvane {

std::string CreateGuidString() {
  GUID LGuid{};
  if (FAILED(::CoCreateGuid(&LGuid))) throw std::runtime_error("CoCreateGuid failed");
  // StringFromGUID2 writes the brace form in upper case, as the host expects.
  wchar_t LText[39] = {};
  if (::StringFromGUID2(LGuid, LText, 39) != 39) throw std::runtime_error("StringFromGUID2 failed");
  return Narrow(LText);
}

}  // namespace Orvane
