#include "OrvaneCore/Platform/Paths.h"

#include <shlobj.h>

#include <cerrno>
#include <system_error>

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Platform/Windows/WindowsApi.h"

// Paths inside the product use '/' (the Windows calls accept it); the ones read from the system are
// given that form too, so that ExtractFileDir and the joins work alike on both platforms.

namespace Orvane {

namespace {

constexpr const char* CDataDirName = "tessra-agent";

std::string ForwardSlashes(std::string APath) {
  for (char& LChar : APath)
    if (LChar == '\\') LChar = '/';
  return APath;
}

std::string StripTrailingDelimiters(std::string APath) {
  while (APath.size() > 1 && APath.back() == '/') APath.pop_back();
  return APath;
}

std::string EnvironmentValue(const wchar_t* AName) {
  const DWORD LSize = ::GetEnvironmentVariableW(AName, nullptr, 0);
  if (LSize == 0) return std::string();
  std::wstring LValue(LSize, L'\0');
  const DWORD LLength = ::GetEnvironmentVariableW(AName, LValue.data(), LSize);
  LValue.resize(LLength < LSize ? LLength : 0);
  return Narrow(LValue);
}

DWORD AttributesOf(const std::string& APath) {
  return ::GetFileAttributesW(Wide(APath).c_str());
}

// CreateDirectory that accepts an existing directory (or a link to one). A directory it makes is
// owner-only.
bool MakeDirectory(const std::string& APath) {
  if (::CreateDirectoryW(Wide(APath).c_str(), OwnerOnlySecurity())) return true;
  const DWORD LError = ::GetLastError();
  if (LError != ERROR_ALREADY_EXISTS && LError != ERROR_ACCESS_DENIED) {
    errno = ErrnoFromWindowsError(LError);
    return false;
  }
  // A drive's root ("C:") answers access denied; it exists all the same.
  const DWORD LAttributes = AttributesOf(APath);
  if (LAttributes == INVALID_FILE_ATTRIBUTES) {
    errno = ErrnoFromWindowsError(LError);
    return false;
  }
  if (!(LAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace

std::string GetExecutableDir() {
  std::wstring LPath(MAX_PATH, L'\0');
  for (;;) {
    const DWORD LLength = ::GetModuleFileNameW(nullptr, LPath.data(), static_cast<DWORD>(LPath.size()));
    if (LLength == 0) {
      const DWORD LError = ::GetLastError();
      throw EOSError("Cannot find the executable: " + WindowsErrorText(LError), static_cast<int>(LError));
    }
    if (LLength < LPath.size()) {
      LPath.resize(LLength);
      break;
    }
    LPath.resize(LPath.size() * 2);
  }
  return ExtractFileDir(ForwardSlashes(Narrow(LPath)));
}

// The machine-wide application data folder (ProgramData), or ORVANE_COMMON_APPDATA when set. Made
// owner-only when missing; an existing one is taken as it is, since the folder's ACL, not a mode,
// decides who may reach it there.
std::string GetCommonAppDataDir() {
  std::string LPath = StripTrailingDelimiters(ForwardSlashes(EnvironmentValue(L"ORVANE_COMMON_APPDATA")));
  if (LPath.empty()) {
    PWSTR LFolder = nullptr;
    const HRESULT LResult = ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &LFolder);
    if (FAILED(LResult)) {
      ::CoTaskMemFree(LFolder);
      throw EFileError("Cannot find the data directory: the ProgramData folder is unknown");
    }
    LPath = IncludeTrailingPathDelimiter(ForwardSlashes(Narrow(LFolder))) + CDataDirName;
    ::CoTaskMemFree(LFolder);
  }
  if (!ForceDirectories(LPath))
    throw EFileError("Data directory " + LPath + " cannot be created: " + std::generic_category().message(errno));
  return LPath;
}

bool FileExists(const std::string& AFileName) {
  const DWORD LAttributes = AttributesOf(AFileName);
  return LAttributes != INVALID_FILE_ATTRIBUTES && !(LAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<TFileVersion> FileVersionOf(const std::string& AFileName) {
  const HANDLE LFile = ::CreateFileW(Wide(AFileName).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (LFile == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION LInfo{};
  const bool LKnown = ::GetFileInformationByHandle(LFile, &LInfo);
  ::CloseHandle(LFile);
  if (!LKnown) return std::nullopt;
  const uint64_t LWritten =
      (static_cast<uint64_t>(LInfo.ftLastWriteTime.dwHighDateTime) << 32) | LInfo.ftLastWriteTime.dwLowDateTime;
  return TFileVersion{LInfo.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(LInfo.nFileIndexHigh) << 32) | LInfo.nFileIndexLow,
                      (static_cast<uint64_t>(LInfo.nFileSizeHigh) << 32) | LInfo.nFileSizeLow,
                      static_cast<int64_t>(LWritten * 100)};
}

bool DirectoryExists(const std::string& APath) {
  const DWORD LAttributes = AttributesOf(APath);
  return LAttributes != INVALID_FILE_ATTRIBUTES && (LAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ForceDirectories(const std::string& APath) {
  std::string LPath = StripTrailingDelimiters(ForwardSlashes(APath));
  if (LPath.empty()) {
    errno = ENOENT;
    return false;
  }
  if (DirectoryExists(LPath)) return true;
  // Each prefix ending before a '/' is a parent; "a//b" yields "a/" once, which is skipped.
  for (std::size_t LSlash = LPath.find('/', 1); LSlash != std::string::npos; LSlash = LPath.find('/', LSlash + 1)) {
    if (LPath[LSlash - 1] == '/') continue;
    if (!MakeDirectory(LPath.substr(0, LSlash))) return false;
  }
  return MakeDirectory(LPath);
}

}  // namespace Orvane
