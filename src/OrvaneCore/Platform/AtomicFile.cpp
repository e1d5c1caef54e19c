#include "OrvaneCore/Platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Guid.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

namespace {

// Enough for any number of planted files a local attacker could keep ahead of random names.
constexpr int CMaxTemporaryNameAttempts = 64;
constexpr std::size_t CCompareChunk = 64 * 1024;

[[noreturn]] void RaiseSaveError(const std::string& AFileName, const std::string& AStep, int AError) {
  throw EOSError(
      "Cannot save \"" + AFileName + "\": " + AStep + " failed: " + std::system_category().message(AError),
      AError);
}

std::string DirectoryOf(const std::string& AFileName) {
  const std::string LDir = ExtractFileDir(AFileName);
  return LDir.empty() ? std::string(".") : LDir;
}

// Whether AName in ADirectory is a regular file holding exactly AContent. Never follows a link at
// the name, and never blocks on a FIFO planted there.
bool HoldsContent(const TFileHandle& ADirectory, const std::string& AName, std::string_view AContent) {
  TFileReader LFile;
  if (!LFile.OpenIn(ADirectory, AName, AName, {.NoFollow = true, .RegularOnly = true}).Done() ||
      LFile.Size() != AContent.size())
    return false;
  // One byte more than the content tells a file that grew since it was opened.
  std::string LBuffer(std::min(CCompareChunk, AContent.size()) + 1, '\0');
  std::size_t LCompared = 0;
  for (;;) {
    const std::size_t LWanted = std::min(LBuffer.size(), AContent.size() - LCompared + 1);
    std::size_t LRead = 0;
    if (!LFile.Read(std::span<char>(LBuffer.data(), LWanted), LRead).Done()) return false;
    if (AContent.substr(LCompared, LRead) != std::string_view(LBuffer.data(), LRead)) return false;
    LCompared += LRead;
    if (LRead < LWanted) return LCompared == AContent.size();
  }
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

bool IsLeftTemporary(const std::string& AName) {
  // "." NAME "." 32 hex digits ".tmp", as NewTemporaryName makes them.
  constexpr std::size_t CRandomLength = 32;
  constexpr std::string_view CSuffix = ".tmp";
  if (AName.size() < 1 + 1 + 1 + CRandomLength + CSuffix.size() || AName[0] != '.' || !AName.ends_with(CSuffix))
    return false;
  const std::size_t LRandomStart = AName.size() - CSuffix.size() - CRandomLength;
  if (AName[LRandomStart - 1] != '.') return false;
  for (std::size_t I = LRandomStart; I < LRandomStart + CRandomLength; ++I)
    if (!std::isxdigit(static_cast<unsigned char>(AName[I]))) return false;
  return true;
}

int RemoveLeftTemporaryFilesBelow(const std::string& ABase, const std::string& ARelativeDir) {
  std::vector<TDirectoryEntry> LEntries;
  if (!ListDirectory(ABase, ARelativeDir, LEntries).Done()) return 0;
  int LRemoved = 0;
  for (const TDirectoryEntry& LEntry : LEntries) {
    const std::string LPath = JoinRelativePath(ARelativeDir, LEntry.Name);
    if (LEntry.Kind == TDirectoryEntry::TKind::Directory)
      LRemoved += RemoveLeftTemporaryFilesBelow(ABase, LPath);
    else if (LEntry.Kind == TDirectoryEntry::TKind::File && IsLeftTemporary(LEntry.Name) &&
             RemoveFile(ABase, LPath).Done())
      ++LRemoved;
  }
  return LRemoved;
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
  const TFileHandle LDirectory(::open(DirectoryOf(AFileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!LDirectory.IsOpen()) RaiseSaveError(AFileName, "opening its directory", errno);
  const std::string LName = LastComponent(AFileName);
  if (HoldsContent(LDirectory, LName, AContent)) return false;
  SaveIn(LDirectory, LName, AFileName, [AContent](const TByteWriter& AWrite) { AWrite(AContent); });
  return true;
}

void TAtomicFile::OpenBelow(const std::string& ABase, const std::string& ARelativeFile, TFileHandle& ADirectory,
                            std::string& AName, std::string& AFileName) {
  AFileName = IncludeTrailingPathDelimiter(ABase) + ARelativeFile;
  const TRelativeFileName LName = SplitRelativeFileName(ARelativeFile);
  if (LName.Name.empty()) throw EArgumentException("Cannot save \"" + AFileName + "\": not a file name");
  const TFileResult LOpened = OpenDirectoryBelow(ABase, LName.Dir, true, ADirectory);
  if (!LOpened.Done()) throw EOSError("Cannot save \"" + AFileName + "\": " + LOpened.Error, LOpened.ErrorCode);
  AName = LName.Name;
}

bool TAtomicFile::SaveBelow(const std::string& ABase, const std::string& ARelativeFile, std::string_view AContent) {
  TFileHandle LDirectory;
  std::string LName, LFileName;
  OpenBelow(ABase, ARelativeFile, LDirectory, LName, LFileName);
  if (HoldsContent(LDirectory, LName, AContent)) return false;
  SaveIn(LDirectory, LName, LFileName, [AContent](const TByteWriter& AWrite) { AWrite(AContent); });
  return true;
}

void TAtomicFile::SaveBelowStreamed(const std::string& ABase, const std::string& ARelativeFile,
                                    const TContentProducer& AProduce) {
  TFileHandle LDirectory;
  std::string LName, LFileName;
  OpenBelow(ABase, ARelativeFile, LDirectory, LName, LFileName);
  SaveIn(LDirectory, LName, LFileName, AProduce);
}

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

bool SaveFileAtomically(const std::string& AFileName, std::string_view AContent) {
  TAtomicFile LFile;
  return LFile.Save(AFileName, AContent);
}

int RemoveLeftTemporaryFiles(const std::string& ADirectory) {
  return RemoveLeftTemporaryFilesBelow(ADirectory, "");
}

}  // namespace Orvane
