#include "OrvaneCore/Platform/Guid.h"

#include <cstddef>

namespace Orvane {

namespace {

constexpr std::size_t CGuidLength = 38;

bool IsHexDigit(char AChar) {
  return (AChar >= '0' && AChar <= '9') || (AChar >= 'A' && AChar <= 'F') || (AChar >= 'a' && AChar <= 'f');
}

bool IsHyphenPosition(std::size_t AIndex) {
  return AIndex == 9 || AIndex == 14 || AIndex == 19 || AIndex == 24;
}

}  // namespace

bool IsGuidString(std::string_view AText) {
  if (AText.size() != CGuidLength || AText.front() != '{' || AText.back() != '}') return false;
  for (std::size_t LIndex = 1; LIndex + 1 < CGuidLength; ++LIndex) {
    if (IsHyphenPosition(LIndex) ? AText[LIndex] != '-' : !IsHexDigit(AText[LIndex])) return false;
  }
  return true;
}

}  // namespace Orvane
