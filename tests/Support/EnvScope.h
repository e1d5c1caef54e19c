#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace Orvane::Testing {

// Sets (or, with nullptr, unsets) an environment variable for one scope and restores it
// afterwards. Only for single-threaded parts of a test: the environment is process-wide.
class TEnvScope {
public:
  TEnvScope(const char* AName, const char* AValue) : FName(AName) {
    if (const char* LOld = getenv(AName)) FOld = LOld;
    Set(AName, AValue);
  }
  ~TEnvScope() { Set(FName.c_str(), FOld ? FOld->c_str() : nullptr); }
  TEnvScope(const TEnvScope&) = delete;
  TEnvScope& operator=(const TEnvScope&) = delete;

private:
  static void Set(const char* AName, const char* AValue) {
#ifdef _WIN32
    // An empty value removes the variable; _putenv_s changes the process's environment block too.
    _putenv_s(AName, AValue ? AValue : "");
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
