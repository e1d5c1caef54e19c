#include "OrvaneCore/Platform/SafeFiles.h"

#include <cerrno>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Paths.h"

// The parts of SafeFiles that are the same on every platform: they reach the system only through
// the walk (OpenDirectoryBelow), TFileReader and TAtomicFile.

namespace Orvane {

namespace {

using TStatus = TFileResult::TStatus;

std::string FullPath(const std::string& ABase, const std::string& ARelative) {
  return ARelative.empty() ? ABase : IncludeTrailingPathDelimiter(ABase) + ARelative;
}

}  // namespace

TFileResult OpenParentBelow(const std::string& ABase, const std::string& ARelativeFile, bool ACreate,
                       TFileHandle& ADir, std::string& AName) {
  const TRelativeFileName LName = SplitRelativeFileName(ARelativeFile);
  if (LName.Name.empty()) return {TStatus::Failed, FullPath(ABase, ARelativeFile) + ": not a file name", EINVAL};
  AName = LName.Name;
  return OpenDirectoryBelow(ABase, LName.Dir, ACreate, ADir);
}

bool SplitRelativeComponents(const std::string& ARelative, std::vector<std::string>& AParts) {
  if (!ARelative.empty() && ARelative.front() == '/') return false;
  std::size_t LStart = 0;
  while (LStart <= ARelative.size()) {
    std::size_t LEnd = ARelative.find('/', LStart);
    if (LEnd == std::string::npos) LEnd = ARelative.size();
    std::string LPart = ARelative.substr(LStart, LEnd - LStart);
    if (LPart == "." || LPart == "..") return false;
    if (!LPart.empty()) AParts.push_back(std::move(LPart));
    LStart = LEnd + 1;
  }
  return true;
}

std::string JoinRelativePath(const std::string& ARelativeDir, const std::string& AName) {
  return ARelativeDir.empty() ? AName : IncludeTrailingPathDelimiter(ARelativeDir) + AName;
}

TRelativeFileName SplitRelativeFileName(const std::string& ARelativePath) {
  const std::size_t LSlash = ARelativePath.rfind('/');
  if (LSlash == std::string::npos) return {"", ARelativePath};
  return {ARelativePath.substr(0, LSlash), ARelativePath.substr(LSlash + 1)};
}

TFileResult MakeOwnerDirectories(const std::string& ABase, const std::string& ARelativeDir) {
  TFileHandle LDir;
  return OpenDirectoryBelow(ABase, ARelativeDir, true, LDir);
}

TFileResult OpenFileBelow(const std::string& ABase, const std::string& ARelativeFile, TFileReader& AReader) {
  TFileHandle LDir;
  std::string LName;
  if (TFileResult LResult = OpenParentBelow(ABase, ARelativeFile, false, LDir, LName); !LResult.Done()) return LResult;
  return AReader.OpenIn(LDir, LName, FullPath(ABase, ARelativeFile), {true, true});
}

TFileResult ReadWholeFile(const std::string& ABase, const std::string& ARelativeFile, std::string& AContent) {
  AContent.clear();
  TFileReader LReader;
  if (TFileResult LResult = OpenFileBelow(ABase, ARelativeFile, LReader); !LResult.Done()) return LResult;
  return LReader.ReadAll(AContent);
}

namespace {

template <class TSave>
TFileResult SaveReporting(TSave ASave) {
  try {
    ASave();
    return {};
  } catch (const EOSError& E) {
    const TStatus LStatus = E.ErrorCode() == ELOOP    ? TStatus::SymbolicLink
                            : E.ErrorCode() == ENOENT ? TStatus::Missing
                                                      : TStatus::Failed;
    return {LStatus, E.what(), E.ErrorCode()};
  } catch (const std::exception& E) {
    return {TStatus::Failed, E.what()};
  }
}

}  // namespace

TFileResult ReplaceFile(const std::string& ABase, const std::string& ARelativeFile, std::string_view AContent) {
  return SaveReporting([&] { TAtomicFile().SaveBelow(ABase, ARelativeFile, AContent); });
}

TFileResult ReplaceFileStreamed(const std::string& ABase, const std::string& ARelativeFile,
                                const TContentProducer& AProduce) {
  return SaveReporting([&] { TAtomicFile().SaveBelowStreamed(ABase, ARelativeFile, AProduce); });
}

}  // namespace Orvane
