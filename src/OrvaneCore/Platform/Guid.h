#pragma once

#include <string>
#include <string_view>

namespace Orvane {

// A new random GUID (version 4) in the host's brace form, upper case:
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string CreateGuidString();

// True when AText is a GUID in brace form (hex digits of either case); the version is not checked,
// so GUIDs made elsewhere pass too.
bool IsGuidString(std::string_view AText);

}  // namespace Orvane
