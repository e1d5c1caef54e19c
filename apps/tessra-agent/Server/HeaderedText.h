#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Orvane {

// How the server link keeps a document on disk together with what goes with it (where it goes to or
// came from, its type, its ETag): "Name: value" lines, a blank line, then the document as it is.

// Empty values are left out. A value must not hold a line end (the caller checks).
std::string JoinHeaderedText(const std::vector<std::pair<std::string, std::string>>& AHeaders, std::string_view ABody);
// False when AText is not such a text (no blank line, a line without ": ").
bool SplitHeaderedText(std::string_view AText, std::map<std::string, std::string, std::less<>>& AHeaders,
                       std::string_view& ABody);

}  // namespace Orvane
