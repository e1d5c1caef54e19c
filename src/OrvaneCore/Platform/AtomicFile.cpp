#include "OrvaneCore/Platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Guid.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

// Enough for any number of planted files a local attacker could keep ahead of random names.
constexpr int CMaxTemporaryNameAttempts = 64;
constexpr std::size_t CCompareChunk = 64 * 1024;

class TFileHandle {
public:
  explicit TFileHandle(int AFd = -1) : FFd(AFd) {}
  ~TFileHandle() {
    if (FFd >= 0) ::close(FFd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  int Get() const { return FFd; }
  void Reset(int AFd) {
    if (FFd >= 0) ::close(FFd);
    FFd = AFd;
  }
  // Closes now and reports the result: a delayed write error may surface only here.
  int Close() {
    const int LResult = ::close(FFd);
    FFd = -1;
    return LResult;
  }

private:
  int FFd;
};

[[noreturn]] void RaiseSaveError(const std::string& AFileName, const std::string& AStep, int AError) {
  throw EOSError(
      "Cannot save \"" + AFileName + "\": " + AStep + " failed: " + std::system_category().message(AError),
      AError);
}

std::string DirectoryOf(const std::string& AFileName) {
  const std::string LDir = ExtractFileDir(AFileName);
  return LDir.empty() ? std::string(".") : LDir;
}

// Whether AFileName is a regular file holding exactly AContent. Never follows a link at the path,
// and never blocks on a FIFO planted there.
bool HoldsContent(const std::string& AFileName, std::string_view AContent) {
  TFileHandle LFile(::open(AFileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (LFile.Get() < 0) return false;
  struct stat LStat {};
  if (::fstat(LFile.Get(), &LStat) != 0 || !S_ISREG(LStat.st_mode)) return false;
  if (static_cast<uint64_t>(LStat.st_size) != AContent.size()) return false;
  std::string LBuffer(std::min(CCompareChunk, AContent.size()), '\0');
  std::size_t LCompared = 0;
  while (LCompared < AContent.size()) {
    const std::size_t LWanted = std::min(LBuffer.size(), AContent.size() - LCompared);
    const ssize_t LRead = ::read(LFile.Get(), LBuffer.data(), LWanted);
    if (LRead < 0 && errno == EINTR) continue;
    if (LRead <= 0) return false;
    if (AContent.compare(LCompared, static_cast<std::size_t>(LRead), LBuffer.data(),
                         static_cast<std::size_t>(LRead)) != 0)
      return false;
    LCompared += static_cast<std::size_t>(LRead);
  }
  // The file may have grown since fstat.
  char LExtra;
  ssize_t LRead;
  do {
    LRead = ::read(LFile.Get(), &LExtra, 1);
  } while (LRead < 0 && errno == EINTR);
  return LRead == 0;
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

void SyncDirectory(const std::string& ADirectory, const std::string& AFileName) {
  TFileHandle LDir(::open(ADirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (LDir.Get() < 0) RaiseSaveError(AFileName, "opening the directory to flush it", errno);
  // Some file systems cannot flush a directory (EINVAL); the rename is as durable as they allow.
  if (::fsync(LDir.Get()) != 0 && errno != EINVAL) RaiseSaveError(AFileName, "flushing the directory", errno);
}

}  // namespace

std::string TAtomicFile::NewTemporaryName(const std::string& AFileName) {
  std::string LRandom;
  for (char LChar : CreateGuidString())
    if (std::isxdigit(static_cast<unsigned char>(LChar))) LRandom += LChar;
  const std::string LDir = ExtractFileDir(AFileName);
  const std::string LBase = LDir.empty() ? AFileName : AFileName.substr(AFileName.find_last_of('/') + 1);
  return IncludeTrailingPathDelimiter(LDir) + "." + LBase + "." + LRandom + ".tmp";
}

bool TAtomicFile::Save(const std::string& AFileName, std::string_view AContent) {
  if (AFileName.empty() || AFileName.back() == '/')
    throw EArgumentException("Cannot save \"" + AFileName + "\": not a file name");
  if (HoldsContent(AFileName, AContent)) return false;

  std::string LTemporaryName;
  TFileHandle LFile;
  for (int LAttempt = 0; LAttempt < CMaxTemporaryNameAttempts && LFile.Get() < 0; ++LAttempt) {
    LTemporaryName = NewTemporaryName(AFileName);
    // O_EXCL fails on any existing entry, a symbolic link included, so nothing planted at the name
    // can receive the content.
    const int LFd =
        ::open(LTemporaryName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (LFd >= 0) {
      LFile.Reset(LFd);
    } else if (errno != EEXIST) {
      RaiseSaveError(AFileName, "creating the temporary file \"" + LTemporaryName + "\"", errno);
    }
  }
  if (LFile.Get() < 0) RaiseSaveError(AFileName, "finding a free temporary file name", EEXIST);

  try {
    // The umask may only take bits away; the mode is exactly owner read and write.
    if (::fchmod(LFile.Get(), 0600) != 0)
      RaiseSaveError(AFileName, "setting the temporary file's mode", errno);
    WriteAll(LFile.Get(), AContent, AFileName);
    if (::fsync(LFile.Get()) != 0) RaiseSaveError(AFileName, "flushing the temporary file", errno);
    if (LFile.Close() != 0) RaiseSaveError(AFileName, "closing the temporary file", errno);
    if (::rename(LTemporaryName.c_str(), AFileName.c_str()) != 0)
      RaiseSaveError(AFileName, "renaming the temporary file over it", errno);
  } catch (...) {
    ::unlink(LTemporaryName.c_str());
    throw;
  }
  SyncDirectory(DirectoryOf(AFileName), AFileName);
  return true;
}

bool SaveFileAtomically(const std::string& AFileName, std::string_view AContent) {
  TAtomicFile LFile;
  return LFile.Save(AFileName, AContent);
}

int RemoveLeftTemporaryFiles(const std::string& ADirectory) {
  namespace fs = std::filesystem;
  const auto LIsLeftTemporary = [](const std::string& AName) {
    // "." NAME "." 32 hex digits ".tmp", as NewTemporaryName makes them.
    constexpr std::size_t CRandomLength = 32;
    constexpr std::string_view CSuffix = ".tmp";
    if (AName.size() < 1 + 1 + 1 + CRandomLength + CSuffix.size() || AName[0] != '.' ||
        !AName.ends_with(CSuffix))
      return false;
    const std::size_t LRandomStart = AName.size() - CSuffix.size() - CRandomLength;
    if (AName[LRandomStart - 1] != '.') return false;
    for (std::size_t I = LRandomStart; I < LRandomStart + CRandomLength; ++I)
      if (!std::isxdigit(static_cast<unsigned char>(AName[I]))) return false;
    return true;
  };
  int LRemoved = 0;
  std::error_code LError;
  for (fs::recursive_directory_iterator LEntry(ADirectory, fs::directory_options::skip_permission_denied, LError),
       LEnd;
       !LError && LEntry != LEnd; LEntry.increment(LError)) {
    if (!LEntry->is_regular_file(LError) || LEntry->is_symlink(LError)) continue;
    if (!LIsLeftTemporary(LEntry->path().filename().string())) continue;
    std::error_code LRemoveError;
    if (fs::remove(LEntry->path(), LRemoveError)) ++LRemoved;
  }
  return LRemoved;
}

}  // namespace Orvane
