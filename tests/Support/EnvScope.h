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
    if (AValue) {
      setenv(AName, AValue, 1);
    } else {
      unsetenv(AName);
    }
  }
  ~TEnvScope() {
    if (FOld) {
      setenv(FName.c_str(), FOld->c_str(), 1);
    } else {
      unsetenv(FName.c_str());
    }
  }
  TEnvScope(const TEnvScope&) = delete;
  TEnvScope& operator=(const TEnvScope&) = delete;

private:
  std::string FName;
  std::optional<std::string> FOld;
};

}  // namespace Orvane::Testing
