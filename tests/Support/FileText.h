#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace Orvane::Testing {

// A file's bytes; "" when it cannot be read.
inline std::string ReadFile(const std::string& APath) {
  std::ifstream LFile(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(LFile), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& APath, const std::string& AContent) {
  std::ofstream(APath, std::ios::binary | std::ios::trunc) << AContent;
}

}  // namespace Orvane::Testing
