#pragma once

#include <string>
#include <string_view>

namespace Orvane {

// Identifiers compare without regard to letter case by ASCII folding (non-ASCII letters compare
// exactly).
bool SameText(std::string_view A, std::string_view B);
int CompareText(std::string_view A, std::string_view B);
std::string UpperCase(std::string_view AText);
std::string Trim(std::string_view AText);

// Case-insensitive ordering for maps and sorted lists of identifiers.
struct TTextLess {
  using is_transparent = void;
  bool operator()(std::string_view A, std::string_view B) const { return CompareText(A, B) < 0; }
};

}  // namespace Orvane
