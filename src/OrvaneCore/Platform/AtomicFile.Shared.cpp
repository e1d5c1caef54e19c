#include "OrvaneCore/Platform/AtomicFile.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <system_error>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Guid.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/SafeFiles.h"

// The parts of TAtomicFile that are the same on every platform; the save itself (SaveIn) is the
// platform's.

namespace Orvane {

namespace {

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
  TFileHandle LDirectory;
  if (const TFileResult LOpened = OpenDirectoryBelow(DirectoryOf(AFileName), "", false, LDirectory); !LOpened.Done())
    RaiseSaveError(AFileName, "opening its directory", LOpened.ErrorCode);
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

bool SaveFileAtomically(const std::string& AFileName, std::string_view AContent) {
  TAtomicFile LFile;
  return LFile.Save(AFileName, AContent);
}

int RemoveLeftTemporaryFiles(const std::string& ADirectory) {
  return RemoveLeftTemporaryFilesBelow(ADirectory, "");
}

}  // namespace Orvane
