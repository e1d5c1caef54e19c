#include "OrvaneCore/Platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/FileHandle.h"

namespace Orvane {

namespace {

// Enough for any number of planted files a local attacker could keep ahead of random names.
constexpr int CMaxTemporaryNameAttempts = 64;

[[noreturn]] void RaiseSaveError(const std::string& AFileName, const std::string& AStep, int AError) {
  throw EOSError(
      "Cannot save \"" + AFileName + "\": " + AStep + " failed: " + std::system_category().message(AError),
      AError);
}

void WriteAll(int AFd, std::string_view AContent, const std::string& AFileName) {
  std::size_t LWritten = 0;
  while (LWritten < AContent.size()) {
    const ssize_t LCount = ::write(AFd, AContent.data() + LWritten, AContent.size() - LWritten);
    if (LCount < 0) {
      if (errno == EINTR) continue;
      RaiseSaveError(AFileName, "writing the temporary file", errno);
    }
    LWritten += static_cast<std::size_t>(LCount);
  }
}

void SyncDirectory(const TFileHandle& ADirectory, const std::string& AFileName) {
  // Some file systems cannot flush a directory (EINVAL); the rename is as durable as they allow.
  if (::fsync(ADirectory.Get()) != 0 && errno != EINVAL) RaiseSaveError(AFileName, "flushing the directory", errno);
}

std::string LastComponent(const std::string& APath) {
  const std::size_t LSlash = APath.rfind('/');
  return LSlash == std::string::npos ? APath : APath.substr(LSlash + 1);
}

}  // namespace

void TAtomicFile::SaveIn(const TFileHandle& ADirectory, const std::string& AName, const std::string& AFileName,
                         const TContentProducer& AProduce) {
  std::string LTemporaryName;
  TFileHandle LFile;
  for (int LAttempt = 0; LAttempt < CMaxTemporaryNameAttempts && !LFile.IsOpen(); ++LAttempt) {
    LTemporaryName = LastComponent(NewTemporaryName(AFileName));
    // O_EXCL fails on any existing entry, a symbolic link included, so nothing planted at the name
    // can receive the content.
    LFile.Reset(::openat(ADirectory.Get(), LTemporaryName.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!LFile.IsOpen() && errno != EEXIST)
      RaiseSaveError(AFileName, "creating the temporary file \"" + LTemporaryName + "\"", errno);
  }
  if (!LFile.IsOpen()) RaiseSaveError(AFileName, "finding a free temporary file name", EEXIST);

  try {
    // The umask may only take bits away; the mode is exactly owner read and write.
    if (::fchmod(LFile.Get(), 0600) != 0) RaiseSaveError(AFileName, "setting the temporary file's mode", errno);
    AProduce([&](std::string_view APiece) { WriteAll(LFile.Get(), APiece, AFileName); });
    if (::fsync(LFile.Get()) != 0) RaiseSaveError(AFileName, "flushing the temporary file", errno);
    if (LFile.Close() != 0) RaiseSaveError(AFileName, "closing the temporary file", errno);
    if (::renameat(ADirectory.Get(), LTemporaryName.c_str(), ADirectory.Get(), AName.c_str()) != 0)
      RaiseSaveError(AFileName, "renaming the temporary file over it", errno);
  } catch (...) {
    ::unlinkat(ADirectory.Get(), LTemporaryName.c_str(), 0);
    throw;
  }
  SyncDirectory(ADirectory, AFileName);
}

}  // namespace Orvane
