#include "OrvaneCore/Base/Strings.h"

#include <cstddef>

#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

namespace {
char FoldAscii(char A) { return (A >= 'a' && A <= 'z') ? static_cast<char>(A - 'a' + 'A') : A; }
}  // namespace

bool SameText(std::string_view A, std::string_view B) { return CompareText(A, B) == 0; }

int CompareText(std::string_view A, std::string_view B) {
  const std::size_t LCommon = A.size() < B.size() ? A.size() : B.size();
  for (std::size_t I = 0; I < LCommon; ++I) {
    const auto LA = static_cast<unsigned char>(FoldAscii(A[I]));
    const auto LB = static_cast<unsigned char>(FoldAscii(B[I]));
    if (LA != LB) return LA < LB ? -1 : 1;
  }
  if (A.size() == B.size()) return 0;
  return A.size() < B.size() ? -1 : 1;
}

std::string UpperCase(std::string_view AText) {
  std::string LResult(AText);
  for (char& LChar : LResult) LChar = FoldAscii(LChar);
  return LResult;
}

std::string Trim(std::string_view AText) {
  const auto LSpace = [](char A) { return A == ' ' || A == '\t' || A == '\r' || A == '\n'; };
  std::size_t LBegin = 0, LEnd = AText.size();
  while (LBegin < LEnd && LSpace(AText[LBegin])) ++LBegin;
  while (LEnd > LBegin && LSpace(AText[LEnd - 1])) --LEnd;
  return std::string(AText.substr(LBegin, LEnd - LBegin));
}

namespace {

void AppendUtf16(std::u16string& AResult, char32_t ACode) {
  if (ACode < 0x10000) {
    AResult += static_cast<char16_t>(ACode);
  } else {
    ACode -= 0x10000;
    AResult += static_cast<char16_t>(0xD800 + (ACode >> 10));
    AResult += static_cast<char16_t>(0xDC00 + (ACode & 0x3FF));
  }
}

[[noreturn]] void RaiseInvalidUtf8(std::size_t AOffset) {
  throw EConvertError("Text is not valid UTF-8 (byte " + std::to_string(AOffset) + ")");
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string LResult;
  LResult.reserve(AText.size());
  std::size_t LPos = 0;
  while (LPos < AText.size()) {
    const std::size_t LStart = LPos;
    const auto LLead = static_cast<unsigned char>(AText[LPos++]);
    if (LLead < 0x80) {
      LResult += static_cast<char16_t>(LLead);
      continue;
    }
    int LFollowers;
    char32_t LCode;
    char32_t LMinimum;
    if ((LLead & 0xE0) == 0xC0) {
      LFollowers = 1, LCode = LLead & 0x1F, LMinimum = 0x80;
    } else if ((LLead & 0xF0) == 0xE0) {
      LFollowers = 2, LCode = LLead & 0x0F, LMinimum = 0x800;
    } else if ((LLead & 0xF8) == 0xF0) {
      LFollowers = 3, LCode = LLead & 0x07, LMinimum = 0x10000;
    } else {
      RaiseInvalidUtf8(LStart);  // a continuation byte without a lead, or 0xF8..0xFF
    }
    for (int LIndex = 0; LIndex < LFollowers; ++LIndex) {
      if (LPos >= AText.size()) RaiseInvalidUtf8(LStart);
      const auto LByte = static_cast<unsigned char>(AText[LPos++]);
      if ((LByte & 0xC0) != 0x80) RaiseInvalidUtf8(LStart);
      LCode = (LCode << 6) | (LByte & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past the last code point are not UTF-8.
    if (LCode < LMinimum || (LCode >= 0xD800 && LCode <= 0xDFFF) || LCode > 0x10FFFF)
      RaiseInvalidUtf8(LStart);
    AppendUtf16(LResult, LCode);
  }
  return LResult;
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  std::string LResult;
  LResult.reserve(AText.size());
  for (std::size_t LPos = 0; LPos < AText.size(); ++LPos) {
    char32_t LCode = AText[LPos];
    if (LCode >= 0xD800 && LCode <= 0xDBFF && LPos + 1 < AText.size() && AText[LPos + 1] >= 0xDC00 &&
        AText[LPos + 1] <= 0xDFFF) {
      LCode = 0x10000 + ((LCode - 0xD800) << 10) + (AText[++LPos] - 0xDC00);
    } else if (LCode >= 0xD800 && LCode <= 0xDFFF) {
      throw EConvertError("Text is not valid UTF-16 (an unpaired surrogate at " + std::to_string(LPos) + ")");
    }
    if (LCode < 0x80) {
      LResult += static_cast<char>(LCode);
    } else if (LCode < 0x800) {
      LResult += static_cast<char>(0xC0 | (LCode >> 6));
      LResult += static_cast<char>(0x80 | (LCode & 0x3F));
    } else if (LCode < 0x10000) {
      LResult += static_cast<char>(0xE0 | (LCode >> 12));
      LResult += static_cast<char>(0x80 | ((LCode >> 6) & 0x3F));
      LResult += static_cast<char>(0x80 | (LCode & 0x3F));
    } else {
      LResult += static_cast<char>(0xF0 | (LCode >> 18));
      LResult += static_cast<char>(0x80 | ((LCode >> 12) & 0x3F));
      LResult += static_cast<char>(0x80 | ((LCode >> 6) & 0x3F));
      LResult += static_cast<char>(0x80 | (LCode & 0x3F));
    }
  }
  return LResult;
}

}  // namespace Orvane
