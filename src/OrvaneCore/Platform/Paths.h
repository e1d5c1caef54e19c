#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Orvane {

// The directory of the running executable (from /proc/self/exe), without a trailing '/'.
// Throws EOSError when the link cannot be read.
std::string GetExecutableDir();

// The host's data directory, without a trailing '/':
//   ORVANE_COMMON_APPDATA when set and non-empty;
//   else /var/lib/tessra-agent for root;
//   else $XDG_DATA_HOME/tessra-agent, or ~/.local/share/tessra-agent.
// It holds the agent's state, so it is created owner-only (0700) when missing, and an existing one
// that other users could reach (group/other permission bits, another owner, not a directory) is
// refused with EFileError rather than used. A symlink is judged by its target. Each call checks
// afresh; callers resolve it once at start-up.
std::string GetCommonAppDataDir();

// APath with a '/' at its end. An empty path stays empty, so that joining it with a file name keeps
// the name relative instead of making it one in the root directory.
std::string IncludeTrailingPathDelimiter(std::string APath);

// The directory part of AFileName without a trailing '/' ("/" for a file in the root directory,
// empty for a bare name).
std::string ExtractFileDir(const std::string& AFileName);

// True for a regular file (following symlinks).
bool FileExists(const std::string& AFileName);

// What tells one version of a file from another without reading it: the entry at the path itself
// (a link is not followed), its inode, size and modification time.
struct TFileVersion {
  uint64_t Device = 0;
  uint64_t Inode = 0;
  uint64_t Size = 0;
  int64_t ModifiedNs = 0;
  bool operator==(const TFileVersion&) const = default;
};

// The version of the entry at AFileName; empty when there is none or it cannot be asked.
std::optional<TFileVersion> FileVersionOf(const std::string& AFileName);

// True for a directory (following symlinks).
bool DirectoryExists(const std::string& APath);

// Creates APath and its missing parents, each directory it creates owner-only (0700 whatever the
// umask; on Windows, a protected ACL granting its owner alone). Succeeds when APath already is a
// directory; on failure returns false with errno kept from the call that failed (on Windows, the
// errno that the system's error maps to).
bool ForceDirectories(const std::string& APath);

}  // namespace Orvane
