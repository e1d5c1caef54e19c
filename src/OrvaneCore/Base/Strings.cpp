#include "OrvaneCore/Base/Strings.h"

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

}  // namespace Orvane
