#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace Orvane::Testing {

// A file's bytes; "" when it cannot be read. Paths are UTF-8, on Windows too.
inline std::string ReadFile(const std::string& APath) {
  std::ifstream LFile(std::filesystem::u8path(APath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(LFile), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& APath, const std::string& AContent) {
  std::ofstream(std::filesystem::u8path(APath), std::ios::binary | std::ios::trunc) << AContent;
}

// The names in a folder, sorted.
inline std::vector<std::string> DirectoryEntries(const std::string& ADirectory) {
  std::vector<std::string> LNames;
  for (const auto& LEntry : std::filesystem::directory_iterator(std::filesystem::u8path(ADirectory)))
    LNames.push_back(LEntry.path().filename().string());
  std::sort(LNames.begin(), LNames.end());
  return LNames;
}

}  // namespace Orvane::Testing
