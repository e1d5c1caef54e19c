#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

// How TFileReader opens a file.
struct TReadOptions {
  // A symbolic link at the path itself is refused (SymbolicLink, ELOOP) instead of followed; the
  // directories on the way are taken as they are.
  bool NoFollow = false;
  // Anything but a regular file is refused (Failed; EISDIR for a directory, else EINVAL), and a FIFO
  // planted at the path is never waited on.
  bool RegularOnly = false;
};

// One file open for reading; closed when the object goes. The results name the file and carry the
// system's error code, so that each caller words the failure its own way.
class TFileReader {
public:
  TFileResult Open(const std::string& AFileName, const TReadOptions& AOptions = {});
  // AName in the open directory ADir; APath names it in the results.
  TFileResult OpenIn(const TFileHandle& ADir, const std::string& AName, const std::string& APath,
                     const TReadOptions& AOptions = {});

  // The file's size when it was opened.
  uint64_t Size() const { return FSize; }
  // Fills ABuffer from the current position; ARead is short of its size only at the end of the file.
  TFileResult Read(std::span<char> ABuffer, std::size_t& ARead);
  // Moves the position to AOffset bytes from the start.
  TFileResult Seek(uint64_t AOffset);
  // The rest of the file, at most AMaxBytes of it.
  TFileResult ReadAll(std::string& AContent, std::size_t AMaxBytes = std::numeric_limits<std::size_t>::max());

private:
  TFileHandle FFile;
  std::string FPath;
  uint64_t FSize = 0;
};

// The whole content of AFileName (at most AMaxBytes of it): TFileReader's Open and ReadAll.
TFileResult ReadWholeFile(const std::string& AFileName, std::string& AContent, const TReadOptions& AOptions = {},
                          std::size_t AMaxBytes = std::numeric_limits<std::size_t>::max());

}  // namespace Orvane
