#pragma once

#include <string>
#include <string_view>

#include "OrvaneCore/Base/Strings.h"

namespace Orvane {

// Lets every user read ADirOrFileName, and with AIncludeWritePrivilege also write it, so that
// processes under other accounts can read and rewrite the job files. The work is done by the
// plug-in "Plugins/Sys/FilePermissions.dll" beside the host executable, loaded for this one call
// and unloaded right after. Every failure (missing path, missing or broken plug-in, a plug-in that
// raises) is logged; nothing reaches the caller, whose file is already written. Thread-safe: calls
// share no state, and the loader counts references to the plug-in.
void SetAllRightsForEverybody(const std::string& ADirOrFileName, bool AIncludeWritePrivilege) noexcept;

// The full name of the plug-in that SetAllRightsForEverybody loads. Throws EOSError when the
// executable's directory cannot be found.
std::string FilePermissionsPluginFileName();

// Makes FilePermissionsPluginFileName look below ABaseDir instead of the executable's directory;
// an empty text restores the executable's directory. For tests, which point it at directories
// without the plug-in or with broken ones.
void SetFilePermissionsPluginBaseDirForTesting(const std::string& ABaseDir);

}  // namespace Orvane
