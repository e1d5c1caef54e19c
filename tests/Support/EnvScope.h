#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

#include "OrvaneCore/Base/Strings.h"

namespace Orvane::Testing {

// Sets (or, with nullptr, unsets) an environment variable for one scope and restores it
// afterwards. Only for single-threaded parts of a test: the environment is process-wide.
class TEnvScope {
public:
  TEnvScope(const char* AName, const char* AValue) : FName(AName) {
#ifdef _WIN32
    if (const wchar_t* LOld = _wgetenv(Wide(AName).c_str())) FOld = Utf16ToUtf8(reinterpret_cast<const char16_t*>(LOld));
#else
    if (const char* LOld = getenv(AName)) FOld = LOld;
#endif
    Set(AName, AValue);
  }
  ~TEnvScope() { Set(FName.c_str(), FOld ? FOld->c_str() : nullptr); }
  TEnvScope(const TEnvScope&) = delete;
  TEnvScope& operator=(const TEnvScope&) = delete;

private:
#ifdef _WIN32
  static std::wstring Wide(const char* AText) {
    const std::u16string LText = Utf8ToUtf16(AText);
    return std::wstring(LText.begin(), LText.end());
  }
#endif
  static void Set(const char* AName, const char* AValue) {
#ifdef _WIN32
    // Values are UTF-8; an empty one removes the variable. _wputenv_s changes the process's
    // environment block too, which the product reads.
    _wputenv_s(Wide(AName).c_str(), Wide(AValue ? AValue : "").c_str());
#else
    if (AValue) {
      setenv(AName, AValue, 1);
    } else {
      unsetenv(AName);
    }
#endif
  }

  std::string FName;
  std::optional<std::string> FOld;
};

}  // namespace Orvane::Testing
