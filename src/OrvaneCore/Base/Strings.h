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

// AText as UTF-16; characters beyond the basic plane become surrogate pairs. Throws EConvertError
// for text that is not well-formed UTF-8 (a file name on disk may be any bytes).
std::u16string Utf8ToUtf16(std::string_view AText);
// The way back; throws EConvertError for an unpaired surrogate.
std::string Utf16ToUtf8(std::u16string_view AText);

}  // namespace Orvane
