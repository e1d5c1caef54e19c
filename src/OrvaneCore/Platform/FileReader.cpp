#include "OrvaneCore/Platform/FileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace Orvane {

namespace {

// Opens AName in ADir for reading as AOptions say, and gives its size.
TFileResult OpenForReading(int ADir, const std::string& AName, const std::string& APath,
                           const TReadOptions& AOptions, TFileHandle& AFile, uint64_t& ASize) {
  const int LFlags = O_RDONLY | O_CLOEXEC | (AOptions.NoFollow ? O_NOFOLLOW : 0) |
                     (AOptions.RegularOnly ? O_NONBLOCK : 0);
  TFileHandle LFile(::openat(ADir, AName.c_str(), LFlags));
  if (!LFile.IsOpen()) {
    const int LErrno = errno;
    return AOptions.NoFollow ? OpenFailure(ADir, AName, APath, LErrno) : ErrnoFailure(APath, LErrno);
  }
  struct stat LStat {};
  if (::fstat(LFile.Get(), &LStat) != 0) return ErrnoFailure(APath, errno);
  if (AOptions.RegularOnly && !S_ISREG(LStat.st_mode))
    return {TFileResult::TStatus::Failed, APath + ": not a regular file", S_ISDIR(LStat.st_mode) ? EISDIR : EINVAL};
  AFile = std::move(LFile);
  ASize = static_cast<uint64_t>(std::max<off_t>(LStat.st_size, 0));
  return {};
}

}  // namespace

TFileResult TFileReader::Open(const std::string& AFileName, const TReadOptions& AOptions) {
  FFile.Reset();
  FPath = AFileName;
  return OpenForReading(AT_FDCWD, AFileName, AFileName, AOptions, FFile, FSize);
}

TFileResult TFileReader::OpenIn(const TFileHandle& ADir, const std::string& AName, const std::string& APath,
                                const TReadOptions& AOptions) {
  FFile.Reset();
  FPath = APath;
  return OpenForReading(ADir.Get(), AName, APath, AOptions, FFile, FSize);
}

TFileResult TFileReader::Read(std::span<char> ABuffer, std::size_t& ARead) {
  ARead = 0;
  while (ARead < ABuffer.size()) {
    const ssize_t LCount = ::read(FFile.Get(), ABuffer.data() + ARead, ABuffer.size() - ARead);
    if (LCount < 0) {
      if (errno == EINTR) continue;
      return ErrnoFailure(FPath, errno);
    }
    if (LCount == 0) break;
    ARead += static_cast<std::size_t>(LCount);
  }
  return {};
}

TFileResult TFileReader::Seek(uint64_t AOffset) {
  if (::lseek(FFile.Get(), static_cast<off_t>(AOffset), SEEK_SET) < 0) return ErrnoFailure(FPath, errno);
  return {};
}

}  // namespace Orvane
