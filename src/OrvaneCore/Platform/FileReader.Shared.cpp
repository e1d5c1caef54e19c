#include "OrvaneCore/Platform/FileReader.h"

#include <algorithm>

// The parts of TFileReader that are the same on every platform: they read through Read.

namespace Orvane {

TFileResult TFileReader::ReadAll(std::string& AContent, std::size_t AMaxBytes) {
  constexpr std::size_t CChunk = 64 * 1024;
  AContent.clear();
  // The size is a hint only: the file may change while it is read.
  AContent.reserve(static_cast<std::size_t>(std::min<uint64_t>(FSize, AMaxBytes)));
  for (;;) {
    const std::size_t LOld = AContent.size();
    const std::size_t LWanted = std::min(CChunk, AMaxBytes - LOld);
    if (LWanted == 0) return {};
    AContent.resize(LOld + LWanted);
    std::size_t LRead = 0;
    const TFileResult LResult = Read(std::span<char>(AContent.data() + LOld, LWanted), LRead);
    AContent.resize(LOld + LRead);
    if (!LResult.Done() || LRead < LWanted) return LResult;
  }
}

TFileResult ReadWholeFile(const std::string& AFileName, std::string& AContent, const TReadOptions& AOptions,
                          std::size_t AMaxBytes) {
  AContent.clear();
  TFileReader LReader;
  if (TFileResult LResult = LReader.Open(AFileName, AOptions); !LResult.Done()) return LResult;
  return LReader.ReadAll(AContent, AMaxBytes);
}

}  // namespace Orvane
