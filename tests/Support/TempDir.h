#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace Orvane::Testing {

// A fresh directory under the system's temporary directory, mode 0700 (good enough for a data
// directory), removed with its content when the scope ends. Path() is empty when it could not be
// made; tests check that first.
class TTempDir {
public:
  explicit TTempDir(const std::string& APrefix = "orvane-test") {
    std::string LTemplate = (std::filesystem::temp_directory_path() / (APrefix + "-XXXXXX")).string();
    if (mkdtemp(LTemplate.data())) FPath = LTemplate;
  }
  ~TTempDir() {
    std::error_code LIgnored;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, LIgnored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};

}  // namespace Orvane::Testing
