#include "OrvaneCore/Platform/SafeFiles.h"

#include <cerrno>
#include <system_error>

#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/Paths.h"
#include "OrvaneCore/Platform/Windows/WindowsApi.h"

// Windows has no call that opens a name relative to an open directory; each step opens the final
// path of the directory checked before it, with FILE_FLAG_OPEN_REPARSE_POINT so that a link or
// junction is seen rather than followed.

namespace Orvane {

namespace {

using TStatus = TFileResult::TStatus;

constexpr DWORD CShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string FullPath(const std::string& ABase, const std::string& ARelative) {
  return ARelative.empty() ? ABase : IncludeTrailingPathDelimiter(ABase) + ARelative;
}

TFileResult LinkRefused(const std::string& APath) {
  return {TStatus::SymbolicLink, APath + ": a symbolic link, which is not followed", ELOOP};
}

// Opens the directory at AWidePath; with ANoFollow a reparse point there is refused.
TFileResult OpenDirectory(const std::wstring& AWidePath, const std::string& APath, bool ANoFollow, HANDLE& ADir) {
  const DWORD LFlags = FILE_FLAG_BACKUP_SEMANTICS | (ANoFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  TFileHandle LDir(::CreateFileW(AWidePath.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 CShareAll, nullptr, OPEN_EXISTING, LFlags, nullptr));
  if (!LDir.IsOpen()) return WindowsFailure(APath, ::GetLastError());
  BY_HANDLE_FILE_INFORMATION LInfo{};
  if (!::GetFileInformationByHandle(LDir.Get(), &LInfo)) return WindowsFailure(APath, ::GetLastError());
  if (ANoFollow && (LInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return LinkRefused(APath);
  if (!(LInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {TStatus::Failed, APath + ": not a directory", ENOTDIR};
  ADir = LDir.Release();
  return {};
}

}  // namespace

TFileResult ErrnoFailure(const std::string& APath, int AErrno) {
  return {AErrno == ENOENT ? TStatus::Missing : TStatus::Failed, APath + ": " + std::generic_category().message(AErrno),
          AErrno};
}

TFileResult OpenDirectoryBelow(const std::string& ABase, const std::string& ARelativeDir, bool ACreate,
                               TFileHandle& ADir) {
  std::vector<std::string> LParts;
  if (ABase.empty() || !SplitRelativeComponents(ARelativeDir, LParts))
    return {TStatus::Failed, FullPath(ABase, ARelativeDir) + ": not a path below the directory", EINVAL};
  // The base is trusted as it is, a link to it included.
  HANDLE LOpened = nullptr;
  if (TFileResult LResult = OpenDirectory(Wide(ABase), ABase, false, LOpened); !LResult.Done()) return LResult;
  TFileHandle LDir(LOpened);
  std::string LSoFar;
  for (const std::string& LPart : LParts) {
    LSoFar = JoinRelativePath(LSoFar, LPart);
    const std::string LPath = FullPath(ABase, LSoFar);
    const std::wstring LParent = PathOfHandle(LDir.Get());
    if (LParent.empty()) return WindowsFailure(LPath, ::GetLastError());
    const std::wstring LWide = JoinWide(LParent, LPart);
    TFileResult LResult = OpenDirectory(LWide, LPath, true, LOpened);
    if (LResult.Status == TStatus::Missing && ACreate) {
      if (!::CreateDirectoryW(LWide.c_str(), OwnerOnlySecurity()) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return WindowsFailure(LPath, ::GetLastError());
      LResult = OpenDirectory(LWide, LPath, true, LOpened);
    }
    if (!LResult.Done()) return LResult;
    LDir.Reset(LOpened);
  }
  ADir = std::move(LDir);
  return {};
}

TFileResult AppendToFile(const std::string& ABase, const std::string& ARelativeFile, std::string_view AText,
                         uint64_t ARotateAtSize) {
  TFileHandle LDir;
  std::string LName;
  if (TFileResult LResult = OpenParentBelow(ABase, ARelativeFile, true, LDir, LName); !LResult.Done()) return LResult;
  const std::string LPath = FullPath(ABase, ARelativeFile);
  const std::wstring LDirPath = PathOfHandle(LDir.Get());
  if (LDirPath.empty()) return WindowsFailure(LPath, ::GetLastError());
  const std::wstring LWide = JoinWide(LDirPath, LName);
  if (ARotateAtSize > 0) {
    WIN32_FILE_ATTRIBUTE_DATA LData{};
    if (::GetFileAttributesExW(LWide.c_str(), GetFileExInfoStandard, &LData) &&
        !(LData.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        ((static_cast<uint64_t>(LData.nFileSizeHigh) << 32) | LData.nFileSizeLow) >= ARotateAtSize &&
        !::MoveFileExW(LWide.c_str(), JoinWide(LDirPath, LName + ".1").c_str(), MOVEFILE_REPLACE_EXISTING))
      return WindowsFailure(LPath, ::GetLastError());
  }
  // A link at the name is opened as itself, never written through: it is refused before any write.
  TFileHandle LFile(::CreateFileW(LWide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, CShareAll, OwnerOnlySecurity(),
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!LFile.IsOpen()) return WindowsFailure(LPath, ::GetLastError());
  BY_HANDLE_FILE_INFORMATION LInfo{};
  if (!::GetFileInformationByHandle(LFile.Get(), &LInfo)) return WindowsFailure(LPath, ::GetLastError());
  if (LInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return LinkRefused(LPath);
  if (::GetFileType(LFile.Get()) != FILE_TYPE_DISK || (LInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return {TStatus::Failed, LPath + ": not a regular file", EINVAL};
  std::size_t LWritten = 0;
  while (LWritten < AText.size()) {
    DWORD LCount = 0;
    const DWORD LWanted = static_cast<DWORD>(std::min<std::size_t>(AText.size() - LWritten, 1u << 30));
    if (!::WriteFile(LFile.Get(), AText.data() + LWritten, LWanted, &LCount, nullptr))
      return WindowsFailure(LPath, ::GetLastError());
    LWritten += LCount;
  }
  if (LFile.Close() != 0) return ErrnoFailure(LPath, errno);
  return {};
}

TFileResult ListDirectory(const std::string& ABase, const std::string& ARelativeDir,
                          std::vector<TDirectoryEntry>& AEntries) {
  AEntries.clear();
  TFileHandle LDir;
  if (TFileResult LResult = OpenDirectoryBelow(ABase, ARelativeDir, false, LDir); !LResult.Done()) return LResult;
  const std::string LPath = FullPath(ABase, ARelativeDir);
  const std::wstring LDirPath = PathOfHandle(LDir.Get());
  if (LDirPath.empty()) return WindowsFailure(LPath, ::GetLastError());
  WIN32_FIND_DATAW LFound{};
  const HANDLE LFind = ::FindFirstFileExW(JoinWide(LDirPath, "*").c_str(), FindExInfoBasic, &LFound,
                                          FindExSearchNameMatch, nullptr, 0);
  if (LFind == INVALID_HANDLE_VALUE) {
    const DWORD LError = ::GetLastError();
    return LError == ERROR_FILE_NOT_FOUND ? TFileResult{} : WindowsFailure(LPath, LError);
  }
  do {
    const std::string LName = Narrow(LFound.cFileName);
    if (LName == "." || LName == "..") continue;
    TDirectoryEntry LItem{LName, TDirectoryEntry::TKind::File};
    if (LFound.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
      LItem.Kind = TDirectoryEntry::TKind::SymbolicLink;
    else if (LFound.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      LItem.Kind = TDirectoryEntry::TKind::Directory;
    AEntries.push_back(std::move(LItem));
  } while (::FindNextFileW(LFind, &LFound));
  const DWORD LError = ::GetLastError();
  ::FindClose(LFind);
  if (LError != ERROR_NO_MORE_FILES) return WindowsFailure(LPath, LError);
  return {};
}

TFileResult RemoveFile(const std::string& ABase, const std::string& ARelativeFile) {
  TFileHandle LDir;
  std::string LName;
  if (TFileResult LResult = OpenParentBelow(ABase, ARelativeFile, false, LDir, LName); !LResult.Done()) return LResult;
  const std::string LPath = FullPath(ABase, ARelativeFile);
  const std::wstring LDirPath = PathOfHandle(LDir.Get());
  if (LDirPath.empty()) return WindowsFailure(LPath, ::GetLastError());
  const std::wstring LWide = JoinWide(LDirPath, LName);
  // A link to a directory is removed as a directory entry; its target stays.
  const DWORD LAttributes = ::GetFileAttributesW(LWide.c_str());
  const bool LDirectoryLink = LAttributes != INVALID_FILE_ATTRIBUTES &&
                              (LAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && (LAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (!(LDirectoryLink ? ::RemoveDirectoryW(LWide.c_str()) : ::DeleteFileW(LWide.c_str())))
    return WindowsFailure(LPath, ::GetLastError());
  return {};
}

}  // namespace Orvane
