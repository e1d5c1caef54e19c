#include "OrvaneCore/Platform/Windows/WindowsApi.h"

#include <sddl.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "OrvaneCore/Base/Strings.h"

namespace Orvane {

std::wstring Wide(std::string_view AText) {
  const std::u16string LText = Utf8ToUtf16(AText);
  return std::wstring(LText.begin(), LText.end());
}

std::string Narrow(std::wstring_view AText) {
  return Utf16ToUtf8(std::u16string(AText.begin(), AText.end()));
}

std::string WindowsErrorText(DWORD AError) {
  wchar_t* LBuffer = nullptr;
  const DWORD LLength = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, AError,
      0, reinterpret_cast<wchar_t*>(&LBuffer), 0, nullptr);
  std::wstring LText(LBuffer ? LBuffer : L"", LLength);
  if (LBuffer) ::LocalFree(LBuffer);
  while (!LText.empty() && (LText.back() == L'\n' || LText.back() == L'\r' || LText.back() == L' '))
    LText.pop_back();
  const std::string LNumber = "error " + std::to_string(AError);
  return LText.empty() ? LNumber : Narrow(LText) + " (" + LNumber + ")";
}

int ErrnoFromWindowsError(DWORD AError) {
  switch (AError) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_MOD_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

TFileResult WindowsFailure(const std::string& APath, DWORD AError) {
  const int LErrno = ErrnoFromWindowsError(AError);
  return {LErrno == ENOENT ? TFileResult::TStatus::Missing : TFileResult::TStatus::Failed,
          APath + ": " + WindowsErrorText(AError), LErrno};
}

std::wstring PathOfHandle(HANDLE AHandle) {
  std::wstring LPath(MAX_PATH, L'\0');
  for (;;) {
    const DWORD LLength = ::GetFinalPathNameByHandleW(AHandle, LPath.data(), static_cast<DWORD>(LPath.size()),
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (LLength == 0) return std::wstring();
    if (LLength < LPath.size()) {
      LPath.resize(LLength);
      return LPath;
    }
    LPath.resize(LLength + 1);
  }
}

std::wstring JoinWide(const std::wstring& APath, std::string_view AName) {
  std::wstring LResult = APath;
  if (!LResult.empty() && LResult.back() != L'\\') LResult += L'\\';
  return LResult + Wide(AName);
}

namespace {

// The process's user as an SDDL SID text ("S-1-5-21-..."); empty when the token cannot be read.
std::wstring ProcessUserSid() {
  HANDLE LToken = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &LToken)) return std::wstring();
  DWORD LSize = 0;
  ::GetTokenInformation(LToken, TokenUser, nullptr, 0, &LSize);
  std::vector<unsigned char> LBuffer(LSize);
  std::wstring LResult;
  if (LSize && ::GetTokenInformation(LToken, TokenUser, LBuffer.data(), LSize, &LSize)) {
    wchar_t* LText = nullptr;
    if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(LBuffer.data())->User.Sid, &LText)) {
      LResult = LText;
      ::LocalFree(LText);
    }
  }
  ::CloseHandle(LToken);
  return LResult;
}

struct TOwnerOnly {
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  bool Valid = false;

  TOwnerOnly() {
    const std::wstring LSid = ProcessUserSid();
    if (LSid.empty()) return;
    // P: not inherited from above; OICI: files and folders created inside inherit the entry.
    const std::wstring LSddl = L"D:P(A;OICI;FA;;;" + LSid + L")";
    Valid = ::ConvertStringSecurityDescriptorToSecurityDescriptorW(LSddl.c_str(), SDDL_REVISION_1,
                                                                   &Attributes.lpSecurityDescriptor, nullptr);
  }
  // Lives as long as the process: every creation uses it.
};

}  // namespace

SECURITY_ATTRIBUTES* OwnerOnlySecurity() {
  static TOwnerOnly* GOwnerOnly = new TOwnerOnly();
  return GOwnerOnly->Valid ? &GOwnerOnly->Attributes : nullptr;
}

}  // namespace Orvane
