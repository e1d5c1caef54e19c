#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace Orvane::Testing {

// A file's bytes; "" when it cannot be read. Paths are UTF-8, on Windows too.
inline std::string ReadFile(const std::string& APath) {
  std::ifstream LFile(std::filesystem::u8path(APath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(LFile), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& APath, const std::string& AContent) {
  std::ofstream(std::filesystem::u8path(APath), std::ios::binary | std::ios::trunc) << AContent;
}

}  // namespace Orvane::Testing
