#include "OrvaneCore/Platform/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "OrvaneCore/Base/Exceptions.h"

namespace Orvane {

namespace {

constexpr const char* CDataDirName = "tessra-agent";
constexpr const char* CRootDataDir = "/var/lib/tessra-agent";

std::string ErrorText(int AErrorCode) {
  return std::system_category().message(AErrorCode);
}

std::string StripTrailingDelimiters(std::string APath) {
  while (APath.size() > 1 && APath.back() == '/') APath.pop_back();
  return APath;
}

const char* NonEmptyEnv(const char* AName) {
  const char* LValue = std::getenv(AName);
  return (LValue && *LValue) ? LValue : nullptr;
}

std::string HomeDir() {
  if (const char* LHome = NonEmptyEnv("HOME")) return LHome;
  long LSize = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> LBuffer(LSize > 0 ? static_cast<std::size_t>(LSize) : 16384);
  passwd LEntry{};
  passwd* LFound = nullptr;
  if (getpwuid_r(geteuid(), &LEntry, LBuffer.data(), LBuffer.size(), &LFound) == 0 && LFound &&
      LFound->pw_dir && *LFound->pw_dir) {
    return LFound->pw_dir;
  }
  throw EFileError("Cannot find the data directory: HOME is not set and user " + std::to_string(geteuid()) +
                   " has no home directory");
}

std::string DataDirPath() {
  if (const char* LOverride = NonEmptyEnv("ORVANE_COMMON_APPDATA")) return StripTrailingDelimiters(LOverride);
  if (geteuid() == 0) return CRootDataDir;
  // XDG says a relative XDG_DATA_HOME is invalid and to be ignored.
  if (const char* LXdg = NonEmptyEnv("XDG_DATA_HOME"); LXdg && LXdg[0] == '/') {
    return IncludeTrailingPathDelimiter(LXdg) + CDataDirName;
  }
  return IncludeTrailingPathDelimiter(HomeDir()) + ".local/share/" + CDataDirName;
}

[[noreturn]] void RefuseDataDir(const std::string& APath, const std::string& AReason) {
  throw EFileError("Data directory " + APath + " " + AReason + "; refusing to use it");
}

// The directory (or a symlink's target) must be ours alone: it holds the agent's state.
void CheckDataDir(const std::string& APath) {
  struct stat LInfo {};
  if (stat(APath.c_str(), &LInfo) != 0) RefuseDataDir(APath, "cannot be examined: " + ErrorText(errno));
  if (!S_ISDIR(LInfo.st_mode)) RefuseDataDir(APath, "is not a directory");
  if (LInfo.st_uid != geteuid()) {
    RefuseDataDir(APath, "is owned by user " + std::to_string(LInfo.st_uid) +
                             ", not by this process's user " + std::to_string(geteuid()));
  }
  if ((LInfo.st_mode & 077) != 0) {
    char LMode[8];
    std::snprintf(LMode, sizeof(LMode), "%04o", static_cast<unsigned>(LInfo.st_mode & 07777));
    RefuseDataDir(APath, std::string("is accessible by other users (mode ") + LMode + ")");
  }
}

// mkdir that accepts an existing directory (or a symlink to one). A directory it makes gets 0700
// exactly: the umask may have taken bits away.
bool MakeDirectory(const std::string& APath) {
  constexpr mode_t CMode = 0700;
  if (mkdir(APath.c_str(), CMode) == 0) return chmod(APath.c_str(), CMode) == 0;
  if (errno != EEXIST) return false;
  struct stat LInfo {};
  if (stat(APath.c_str(), &LInfo) != 0) return false;
  if (!S_ISDIR(LInfo.st_mode)) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

}  // namespace

std::string GetExecutableDir() {
  std::error_code LError;
  std::filesystem::path LExe = std::filesystem::read_symlink("/proc/self/exe", LError);
  if (LError) {
    throw EOSError("Cannot read /proc/self/exe: " + LError.message(), LError.value());
  }
  return StripTrailingDelimiters(LExe.parent_path().string());
}

std::string GetCommonAppDataDir() {
  std::string LPath = DataDirPath();
  struct stat LInfo {};
  if (stat(LPath.c_str(), &LInfo) != 0) {
    if (errno != ENOENT) RefuseDataDir(LPath, "cannot be examined: " + ErrorText(errno));
    if (!ForceDirectories(LPath)) {
      throw EFileError("Data directory " + LPath + " cannot be created: " + ErrorText(errno));
    }
  }
  // Checked after creating as well: another process may have made it first, with its own mode.
  CheckDataDir(LPath);
  return LPath;
}

bool FileExists(const std::string& AFileName) {
  struct stat LInfo {};
  return stat(AFileName.c_str(), &LInfo) == 0 && S_ISREG(LInfo.st_mode);
}

std::optional<TFileVersion> FileVersionOf(const std::string& AFileName) {
  struct stat LInfo {};
  if (lstat(AFileName.c_str(), &LInfo) != 0) return std::nullopt;
  return TFileVersion{static_cast<uint64_t>(LInfo.st_dev), static_cast<uint64_t>(LInfo.st_ino),
                      static_cast<uint64_t>(LInfo.st_size),
                      static_cast<int64_t>(LInfo.st_mtim.tv_sec) * 1000000000 + LInfo.st_mtim.tv_nsec};
}

bool DirectoryExists(const std::string& APath) {
  struct stat LInfo {};
  return stat(APath.c_str(), &LInfo) == 0 && S_ISDIR(LInfo.st_mode);
}

bool ForceDirectories(const std::string& APath) {
  std::string LPath = StripTrailingDelimiters(APath);
  if (LPath.empty()) {
    errno = ENOENT;
    return false;
  }
  if (DirectoryExists(LPath)) return true;
  // Each prefix ending before a '/' is a parent; "a//b" yields "a/" once, which is skipped.
  for (std::size_t LSlash = LPath.find('/', 1); LSlash != std::string::npos;
       LSlash = LPath.find('/', LSlash + 1)) {
    if (LPath[LSlash - 1] == '/') continue;
    if (!MakeDirectory(LPath.substr(0, LSlash))) return false;
  }
  return MakeDirectory(LPath);
}

}  // namespace Orvane
