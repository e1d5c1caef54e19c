#include "OrvaneCore/Platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Platform/Windows/WindowsApi.h"

namespace Orvane {

namespace {

// Enough for any number of planted files a local attacker could keep ahead of random names.
constexpr int CMaxTemporaryNameAttempts = 64;
// Windows refuses to move a file over one that is open, even by a reader that shares deletion (as
// ours do); a reader holds a file for one read, so the move is tried again, yielding in between,
// up to this many times.
constexpr int CMaxMoveAttempts = 10000;

[[noreturn]] void RaiseSaveError(const std::string& AFileName, const std::string& AStep, DWORD AError,
                                 int AErrno = 0) {
  throw EOSError("Cannot save \"" + AFileName + "\": " + AStep + " failed: " + WindowsErrorText(AError),
                 AErrno ? AErrno : ErrnoFromWindowsError(AError));
}

std::string LastComponent(const std::string& APath) {
  const std::size_t LSlash = APath.rfind('/');
  return LSlash == std::string::npos ? APath : APath.substr(LSlash + 1);
}

void WriteAll(HANDLE AFile, std::string_view AContent, const std::string& AFileName) {
  std::size_t LWritten = 0;
  while (LWritten < AContent.size()) {
    DWORD LCount = 0;
    const DWORD LWanted = static_cast<DWORD>(std::min<std::size_t>(AContent.size() - LWritten, 1u << 30));
    if (!::WriteFile(AFile, AContent.data() + LWritten, LWanted, &LCount, nullptr))
      RaiseSaveError(AFileName, "writing the temporary file", ::GetLastError());
    LWritten += LCount;
  }
}

// MoveFileExW(AFrom, ATo, replace and write through), tried again while the target is held open.
bool MoveOver(const std::wstring& AFrom, const std::wstring& ATo) {
  for (int LAttempt = 1;; ++LAttempt) {
    if (::MoveFileExW(AFrom.c_str(), ATo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD LError = ::GetLastError();
    if ((LError != ERROR_ACCESS_DENIED && LError != ERROR_SHARING_VIOLATION) || LAttempt >= CMaxMoveAttempts) {
      ::SetLastError(LError);
      return false;
    }
    std::this_thread::yield();
  }
}

}  // namespace

// The temporary file is created exclusively (CREATE_NEW fails on any entry, a link included) with the
// owner-only ACL, flushed, and moved over the target with MOVEFILE_WRITE_THROUGH, which returns only
// once the move is on disk. The move replaces a link at the target instead of following it.
void TAtomicFile::SaveIn(const TFileHandle& ADirectory, const std::string& AName, const std::string& AFileName,
                         const TContentProducer& AProduce) {
  const std::wstring LDirectory = PathOfHandle(ADirectory.Get());
  if (LDirectory.empty()) RaiseSaveError(AFileName, "finding its directory", ::GetLastError());
  std::wstring LTemporary;
  TFileHandle LFile;
  for (int LAttempt = 0; LAttempt < CMaxTemporaryNameAttempts && !LFile.IsOpen(); ++LAttempt) {
    const std::string LTemporaryName = LastComponent(NewTemporaryName(AFileName));
    LTemporary = JoinWide(LDirectory, LTemporaryName);
    LFile.Reset(::CreateFileW(LTemporary.c_str(), GENERIC_WRITE, 0, OwnerOnlySecurity(), CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD LError = ::GetLastError();
    if (!LFile.IsOpen() && LError != ERROR_FILE_EXISTS && LError != ERROR_ALREADY_EXISTS)
      RaiseSaveError(AFileName, "creating the temporary file \"" + LTemporaryName + "\"", LError);
  }
  if (!LFile.IsOpen()) RaiseSaveError(AFileName, "finding a free temporary file name", ERROR_FILE_EXISTS);

  try {
    AProduce([&](std::string_view APiece) { WriteAll(LFile.Get(), APiece, AFileName); });
    if (!::FlushFileBuffers(LFile.Get())) RaiseSaveError(AFileName, "flushing the temporary file", ::GetLastError());
    if (!::CloseHandle(LFile.Release())) RaiseSaveError(AFileName, "closing the temporary file", ::GetLastError());
    const std::wstring LTarget = JoinWide(LDirectory, AName);
    if (!MoveOver(LTemporary, LTarget)) {
      const DWORD LError = ::GetLastError();
      // Windows answers "access denied" for a directory at the target; the code says what it is.
      const DWORD LAttributes = ::GetFileAttributesW(LTarget.c_str());
      const bool LDirectoryThere =
          LAttributes != INVALID_FILE_ATTRIBUTES && (LAttributes & FILE_ATTRIBUTE_DIRECTORY);
      RaiseSaveError(AFileName, "moving the temporary file over it", LError, LDirectoryThere ? EISDIR : 0);
    }
  } catch (...) {
    LFile.Reset();
    ::DeleteFileW(LTemporary.c_str());
    throw;
  }
}

}  // namespace Orvane
