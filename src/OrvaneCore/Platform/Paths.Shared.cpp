#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

std::string IncludeTrailingPathDelimiter(std::string APath) {
  if (!APath.empty() && APath.back() != '/') APath += '/';
  return APath;
}

std::string ExtractFileDir(const std::string& AFileName) {
  std::size_t LSlash = AFileName.rfind('/');
  if (LSlash == std::string::npos) return std::string();
  std::size_t LEnd = AFileName.find_last_not_of('/', LSlash);
  if (LEnd == std::string::npos) return "/";
  return AFileName.substr(0, LEnd + 1);
}

}  // namespace Orvane
