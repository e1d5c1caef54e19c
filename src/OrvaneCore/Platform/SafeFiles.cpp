#include "OrvaneCore/Platform/SafeFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/AtomicFile.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/FileReader.h"
#include "OrvaneCore/Platform/Paths.h"

namespace Orvane {

namespace {

using TStatus = TFileResult::TStatus;

constexpr mode_t CDirectoryMode = 0700;
constexpr mode_t CFileMode = 0600;
constexpr int CDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::string FullPath(const std::string& ABase, const std::string& ARelative) {
  return ARelative.empty() ? ABase : IncludeTrailingPathDelimiter(ABase) + ARelative;
}

TFileResult Failure(TStatus AStatus, const std::string& APath, const std::string& AReason, int AErrno) {
  return {AStatus, APath + ": " + AReason, AErrno};
}

bool IsLink(int ADir, const std::string& AName) {
  struct stat LStat {};
  return ::fstatat(ADir, AName.c_str(), &LStat, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(LStat.st_mode);
}

// Opens (and with ACreate creates, 0600) the regular file AName in ADir for AFlags, never through a
// link and never blocking on a FIFO.
TFileResult OpenFileIn(const TFileHandle& ADir, const std::string& AName, const std::string& APath, int AFlags,
                       bool ACreate, TFileHandle& AFile) {
  const int LFlags = AFlags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  TFileHandle LFile;
  if (ACreate) {
    // Exclusive first, so that only a file made here gets its mode set.
    LFile.Reset(::openat(ADir.Get(), AName.c_str(), LFlags | O_CREAT | O_EXCL, CFileMode));
    if (LFile.IsOpen() && ::fchmod(LFile.Get(), CFileMode) != 0) return ErrnoFailure(APath, errno);
    if (!LFile.IsOpen() && errno != EEXIST) return OpenFailure(ADir.Get(), AName, APath, errno);
  }
  if (!LFile.IsOpen()) LFile.Reset(::openat(ADir.Get(), AName.c_str(), LFlags));
  if (!LFile.IsOpen()) return OpenFailure(ADir.Get(), AName, APath, errno);
  struct stat LStat {};
  if (::fstat(LFile.Get(), &LStat) != 0) return ErrnoFailure(APath, errno);
  if (!S_ISREG(LStat.st_mode)) return Failure(TStatus::Failed, APath, "not a regular file", EINVAL);
  AFile = std::move(LFile);
  return {};
}

}  // namespace

TFileResult ErrnoFailure(const std::string& APath, int AErrno) {
  return Failure(AErrno == ENOENT ? TStatus::Missing : TStatus::Failed, APath,
                 std::system_category().message(AErrno), AErrno);
}

TFileResult OpenFailure(int ADir, const std::string& AName, const std::string& APath, int AErrno) {
  if (IsLink(ADir, AName)) return Failure(TStatus::SymbolicLink, APath, "a symbolic link, which is not followed", ELOOP);
  return ErrnoFailure(APath, AErrno);
}

TFileResult OpenDirectoryBelow(const std::string& ABase, const std::string& ARelativeDir, bool ACreate,
                               TFileHandle& ADir) {
  std::vector<std::string> LParts;
  if (ABase.empty() || !SplitRelativeComponents(ARelativeDir, LParts))
    return Failure(TStatus::Failed, FullPath(ABase, ARelativeDir), "not a path below the directory", EINVAL);
  // The base is trusted as it is, a link to it included.
  TFileHandle LDir(::open(ABase.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!LDir.IsOpen()) return ErrnoFailure(ABase, errno);
  std::string LSoFar;
  for (const std::string& LPart : LParts) {
    LSoFar = JoinRelativePath(LSoFar, LPart);
    TFileHandle LNext(::openat(LDir.Get(), LPart.c_str(), CDirectoryFlags));
    if (!LNext.IsOpen() && errno == ENOENT && ACreate) {
      if (::mkdirat(LDir.Get(), LPart.c_str(), CDirectoryMode) == 0) {
        LNext.Reset(::openat(LDir.Get(), LPart.c_str(), CDirectoryFlags));
        // The umask may have taken bits away; the mode is exactly owner-only.
        if (LNext.IsOpen() && ::fchmod(LNext.Get(), CDirectoryMode) != 0)
          return ErrnoFailure(FullPath(ABase, LSoFar), errno);
      } else if (errno == EEXIST) {
        LNext.Reset(::openat(LDir.Get(), LPart.c_str(), CDirectoryFlags));
      }
    }
    if (!LNext.IsOpen()) return OpenFailure(LDir.Get(), LPart, FullPath(ABase, LSoFar), errno);
    LDir = std::move(LNext);
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
  if (ARotateAtSize > 0) {
    struct stat LStat {};
    if (::fstatat(LDir.Get(), LName.c_str(), &LStat, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(LStat.st_mode) &&
        static_cast<uint64_t>(LStat.st_size) >= ARotateAtSize &&
        ::renameat(LDir.Get(), LName.c_str(), LDir.Get(), (LName + ".1").c_str()) != 0)
      return ErrnoFailure(LPath, errno);
  }
  TFileHandle LFile;
  if (TFileResult LResult = OpenFileIn(LDir, LName, LPath, O_WRONLY | O_APPEND, true, LFile); !LResult.Done())
    return LResult;
  std::size_t LWritten = 0;
  while (LWritten < AText.size()) {
    const ssize_t LCount = ::write(LFile.Get(), AText.data() + LWritten, AText.size() - LWritten);
    if (LCount < 0) {
      if (errno == EINTR) continue;
      return ErrnoFailure(LPath, errno);
    }
    LWritten += static_cast<std::size_t>(LCount);
  }
  if (LFile.Close() != 0) return ErrnoFailure(LPath, errno);
  return {};
}

TFileResult ListDirectory(const std::string& ABase, const std::string& ARelativeDir,
                          std::vector<TDirectoryEntry>& AEntries) {
  AEntries.clear();
  TFileHandle LDir;
  if (TFileResult LResult = OpenDirectoryBelow(ABase, ARelativeDir, false, LDir); !LResult.Done())
    return LResult;
  const std::string LPath = FullPath(ABase, ARelativeDir);
  // The stream takes the descriptor over and closes it.
  std::unique_ptr<DIR, int (*)(DIR*)> LStream(::fdopendir(LDir.Get()), ::closedir);
  if (!LStream) return ErrnoFailure(LPath, errno);
  const int LFd = LDir.Release();
  for (;;) {
    errno = 0;
    const dirent* LEntry = ::readdir(LStream.get());
    if (!LEntry) {
      if (errno != 0) return ErrnoFailure(LPath, errno);
      break;
    }
    const std::string LName = LEntry->d_name;
    if (LName == "." || LName == "..") continue;
    TDirectoryEntry LItem{LName, TDirectoryEntry::TKind::Other};
    struct stat LStat {};
    if (::fstatat(LFd, LName.c_str(), &LStat, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISREG(LStat.st_mode))
        LItem.Kind = TDirectoryEntry::TKind::File;
      else if (S_ISDIR(LStat.st_mode))
        LItem.Kind = TDirectoryEntry::TKind::Directory;
      else if (S_ISLNK(LStat.st_mode))
        LItem.Kind = TDirectoryEntry::TKind::SymbolicLink;
    }
    AEntries.push_back(std::move(LItem));
  }
  return {};
}

TFileResult RemoveFile(const std::string& ABase, const std::string& ARelativeFile) {
  TFileHandle LDir;
  std::string LName;
  if (TFileResult LResult = OpenParentBelow(ABase, ARelativeFile, false, LDir, LName); !LResult.Done()) return LResult;
  if (::unlinkat(LDir.Get(), LName.c_str(), 0) != 0) return ErrnoFailure(FullPath(ABase, ARelativeFile), errno);
  return {};
}

}  // namespace Orvane
