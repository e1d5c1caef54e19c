#include "OrvaneCore/Platform/FileReader.h"

#include <algorithm>
#include <cerrno>

#include "OrvaneCore/Platform/Windows/WindowsApi.h"

namespace Orvane {

namespace {

using TStatus = TFileResult::TStatus;

// Opens the file at AWidePath for reading as AOptions say, and gives its size. Readers share
// deletion, so that an atomic save may replace the file while it is read.
TFileResult OpenForReading(const std::wstring& AWidePath, const std::string& APath, const TReadOptions& AOptions,
                           TFileHandle& AFile, uint64_t& ASize) {
  const DWORD LFlags = FILE_ATTRIBUTE_NORMAL | (AOptions.NoFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  TFileHandle LFile(::CreateFileW(AWidePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, LFlags, nullptr));
  if (!LFile.IsOpen()) {
    const DWORD LError = ::GetLastError();
    // A directory cannot be opened as a file: said as such.
    const DWORD LAttributes = ::GetFileAttributesW(AWidePath.c_str());
    if (AOptions.RegularOnly && LAttributes != INVALID_FILE_ATTRIBUTES && (LAttributes & FILE_ATTRIBUTE_DIRECTORY))
      return {TStatus::Failed, APath + ": not a regular file", EISDIR};
    return WindowsFailure(APath, LError);
  }
  BY_HANDLE_FILE_INFORMATION LInfo{};
  if (!::GetFileInformationByHandle(LFile.Get(), &LInfo)) return WindowsFailure(APath, ::GetLastError());
  if (AOptions.NoFollow && (LInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return {TStatus::SymbolicLink, APath + ": a symbolic link, which is not followed", ELOOP};
  if (AOptions.RegularOnly && (::GetFileType(LFile.Get()) != FILE_TYPE_DISK ||
                               (LInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)))
    return {TStatus::Failed, APath + ": not a regular file",
            (LInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EISDIR : EINVAL};
  AFile = std::move(LFile);
  ASize = (static_cast<uint64_t>(LInfo.nFileSizeHigh) << 32) | LInfo.nFileSizeLow;
  return {};
}

}  // namespace

TFileResult TFileReader::Open(const std::string& AFileName, const TReadOptions& AOptions) {
  FFile.Reset();
  FPath = AFileName;
  return OpenForReading(Wide(AFileName), AFileName, AOptions, FFile, FSize);
}

TFileResult TFileReader::OpenIn(const TFileHandle& ADir, const std::string& AName, const std::string& APath,
                                const TReadOptions& AOptions) {
  FFile.Reset();
  FPath = APath;
  const std::wstring LDir = PathOfHandle(ADir.Get());
  if (LDir.empty()) return WindowsFailure(APath, ::GetLastError());
  return OpenForReading(JoinWide(LDir, AName), APath, AOptions, FFile, FSize);
}

TFileResult TFileReader::Read(std::span<char> ABuffer, std::size_t& ARead) {
  ARead = 0;
  while (ARead < ABuffer.size()) {
    const DWORD LWanted = static_cast<DWORD>(std::min<std::size_t>(ABuffer.size() - ARead, 1u << 30));
    DWORD LCount = 0;
    if (!::ReadFile(FFile.Get(), ABuffer.data() + ARead, LWanted, &LCount, nullptr))
      return WindowsFailure(FPath, ::GetLastError());
    if (LCount == 0) break;
    ARead += LCount;
  }
  return {};
}

TFileResult TFileReader::Seek(uint64_t AOffset) {
  LARGE_INTEGER LOffset;
  LOffset.QuadPart = static_cast<LONGLONG>(AOffset);
  if (!::SetFilePointerEx(FFile.Get(), LOffset, nullptr, FILE_BEGIN))
    return WindowsFailure(FPath, ::GetLastError());
  return {};
}

}  // namespace Orvane
