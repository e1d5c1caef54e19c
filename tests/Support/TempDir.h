#pragma once

#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace Orvane::Testing {

// A fresh directory under the system's temporary directory, mode 0700 (good enough for a data
// directory), removed with its content when the scope ends. Path() is empty when it could not be
// made; tests check that first.
class TTempDir {
public:
  explicit TTempDir(const std::string& APrefix = "orvane-test") {
#ifdef _WIN32
    // No mkdtemp: a random name, created exclusively (create_directory fails on an existing one).
    // Paths inside the product use '/'.
    std::error_code LError;
    const std::filesystem::path LTemp = std::filesystem::temp_directory_path(LError);
    std::random_device LRandom;
    for (int LAttempt = 0; LAttempt < 16 && FPath.empty(); ++LAttempt) {
      const std::filesystem::path LPath = LTemp / std::filesystem::u8path(APrefix + "-" + std::to_string(LRandom()));
      if (std::filesystem::create_directory(LPath, LError)) {
        const std::u8string LText = LPath.generic_u8string();
        FPath.assign(LText.begin(), LText.end());
      }
    }
#else
    std::string LTemplate = (std::filesystem::temp_directory_path() / (APrefix + "-XXXXXX")).string();
    if (mkdtemp(LTemplate.data())) FPath = LTemplate;
#endif
  }
  ~TTempDir() {
    std::error_code LIgnored;
    if (!FPath.empty()) std::filesystem::remove_all(std::filesystem::u8path(FPath), LIgnored);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};

}  // namespace Orvane::Testing
