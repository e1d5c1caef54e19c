#pragma once

// What the Windows side of the platform layer shares: the text conversions at every Windows call
// (UTF-8 inside, UTF-16 at the call), error texts, and the owner-only security of what it creates.

#include <windows.h>

#include <string>
#include <string_view>

#include "OrvaneCore/Platform/SafeFiles.h"

namespace Orvane {

// AText (UTF-8) for a Windows call; a path keeps its '/' separators, which the calls accept.
std::wstring Wide(std::string_view AText);
// A Windows text as UTF-8.
std::string Narrow(std::wstring_view AText);

// The system's message for AError, with its number: "Access is denied. (error 5)".
std::string WindowsErrorText(DWORD AError);
// The errno value AError means: results and exceptions carry errno values on every platform, so that
// callers test them one way; the texts carry the Windows message.
int ErrnoFromWindowsError(DWORD AError);
// The result of a call on APath that failed with AError (Missing for a file or path not found).
TFileResult WindowsFailure(const std::string& APath, DWORD AError);

// The full path of the open file or directory AHandle ("\\?\C:\..."); empty when it cannot be had.
std::wstring PathOfHandle(HANDLE AHandle);
// APath + '\' + AName, for a path from PathOfHandle.
std::wstring JoinWide(const std::wstring& APath, std::string_view AName);

// Security attributes that give what is created to its owner alone (a protected ACL with one entry
// for the process's user, inherited by what is created inside); null when they cannot be built, and
// the object then takes the inherited ACL.
SECURITY_ATTRIBUTES* OwnerOnlySecurity();

}  // namespace Orvane
