#include "Server/HeaderedText.h"

namespace Orvane {

std::string JoinHeaderedText(const std::vector<std::pair<std::string, std::string>>& AHeaders, std::string_view ABody) {
  std::string LText;
  for (const auto& [LName, LValue] : AHeaders)
    if (!LValue.empty()) LText += LName + ": " + LValue + "\n";
  LText += "\n";
  LText.append(ABody);
  return LText;
}

bool SplitHeaderedText(std::string_view AText, std::map<std::string, std::string, std::less<>>& AHeaders,
                       std::string_view& ABody) {
  std::size_t LStart = 0;
  for (;;) {
    const std::size_t LEnd = AText.find('\n', LStart);
    if (LEnd == std::string_view::npos) return false;
    const std::string_view LLine = AText.substr(LStart, LEnd - LStart);
    LStart = LEnd + 1;
    if (LLine.empty()) break;
    const std::size_t LColon = LLine.find(": ");
    if (LColon == std::string_view::npos) return false;
    AHeaders[std::string(LLine.substr(0, LColon))] = std::string(LLine.substr(LColon + 2));
  }
  ABody = AText.substr(LStart);
  return true;
}

}  // namespace Orvane
