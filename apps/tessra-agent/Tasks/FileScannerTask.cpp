#include "Tasks/FileScannerTask.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "OrvaneClientShared/AgentTaskTable.h"
#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Jobs/JobAction.h"
#include "OrvaneCore/Logging/OrvaneLogger.h"
#include "OrvaneCore/Platform/FileHandle.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

namespace {

// Failures below a named path that get a log line of their own; the rest are counted.
constexpr int32_t CLoggedEntryErrors = 10;

std::string ErrorText(int AErrorCode) {
  return std::generic_category().message(AErrorCode);
}

std::string UtcText(time_t ASeconds) {
  struct tm LParts {};
  if (!gmtime_r(&ASeconds, &LParts)) return "";
  char LText[64];
  return std::string(LText, strftime(LText, sizeof(LText), "%Y-%m-%dT%H:%M:%SZ", &LParts));
}

std::string JoinPath(const std::string& ADir, const std::string& AName) {
  return ADir.back() == '/' ? ADir + AName : ADir + '/' + AName;
}

class TDirCloser {
public:
  explicit TDirCloser(DIR* ADir) : FDir(ADir) {}
  ~TDirCloser() { closedir(FDir); }
  TDirCloser(const TDirCloser&) = delete;
  TDirCloser& operator=(const TDirCloser&) = delete;

private:
  DIR* FDir;
};

// One collection: walks the named paths depth first, each directory's entries in name order.
class TFileWalker {
public:
  TFileWalker(TFileInventory& AInventory, const TContinueCheck& ACanContinue, std::size_t AMaxFiles)
      : FInventory(AInventory), FCanContinue(ACanContinue), FMaxFiles(AMaxFiles) {}

  // False when the path itself could not be scanned.
  bool ScanPath(const std::string& APath);
  bool Stopped() const { return FStopped; }
  bool LimitReached() const { return FLimitReached; }
  uint64_t TotalBytes() const { return FTotalBytes; }

private:
  bool Done() const { return FStopped || FLimitReached; }
  void PathFailed(const std::string& APath, const std::string& AReason);
  void EntryFailed(const std::string& APath, const std::string& AReason);
  void AddError(const std::string& APath, const std::string& AReason);
  void AddFile(const std::string& APath, const struct stat& AStat);
  // Counts an entry and asks the continue check every so many.
  void Tick();
  // Lists ADir; false when it could not be opened. Only a named path may be reached through a link.
  bool ScanDirectory(const std::string& ADir, bool AFollowLink, std::vector<std::string>& ASubDirs,
                     int& AErrorCode);
  // First visit of the directory AStat describes?
  bool FirstVisit(const struct stat& AStat) { return FVisited.emplace(AStat.st_dev, AStat.st_ino).second; }

  TFileInventory& FInventory;
  const TContinueCheck& FCanContinue;
  std::size_t FMaxFiles;
  std::set<std::pair<dev_t, ino_t>> FVisited;
  std::size_t FEntriesSinceCheck = 0;
  uint64_t FTotalBytes = 0;
  bool FStopped = false;
  bool FLimitReached = false;
};

void TFileWalker::AddError(const std::string& APath, const std::string& AReason) {
  ++FInventory.ErrorCount;
  if (FInventory.Errors.size() >= TFileScannerTask::CMaxErrorEntries) return;
  auto LError = std::make_shared<TFileScanError>();
  LError->Path = APath;
  LError->Reason = AReason;
  FInventory.Errors.push_back(std::move(LError));
}

void TFileWalker::PathFailed(const std::string& APath, const std::string& AReason) {
  OrvaneLogger()->Error("File Scanner: %s cannot be scanned: %s", {APath, AReason});
  AddError(APath, AReason);
}

void TFileWalker::EntryFailed(const std::string& APath, const std::string& AReason) {
  if (FInventory.ErrorCount < CLoggedEntryErrors)
    OrvaneLogger()->Warning("File Scanner: %s cannot be read: %s", {APath, AReason});
  AddError(APath, AReason);
}

void TFileWalker::AddFile(const std::string& APath, const struct stat& AStat) {
  if (FInventory.Files.size() >= FMaxFiles) {
    FLimitReached = true;
    OrvaneLogger()->Warning("File Scanner: the listing stops at its limit of %d files", {FMaxFiles});
    return;
  }
  FInventory.Files.Add(APath, std::to_string(static_cast<uint64_t>(AStat.st_size)), UtcText(AStat.st_mtim.tv_sec));
  FTotalBytes += static_cast<uint64_t>(AStat.st_size);
}

void TFileWalker::Tick() {
  if (++FEntriesSinceCheck < TFileScannerTask::CEntriesPerCheck) return;
  FEntriesSinceCheck = 0;
  if (FCanContinue && !FCanContinue()) FStopped = true;
}

bool TFileWalker::ScanDirectory(const std::string& ADir, bool AFollowLink, std::vector<std::string>& ASubDirs,
                                int& AErrorCode) {
  // A directory swapped for a link since it was seen is not entered.
  TFileHandle LFile(open(ADir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (AFollowLink ? 0 : O_NOFOLLOW)));
  DIR* LDir = LFile.IsOpen() ? fdopendir(LFile.Get()) : nullptr;
  if (!LDir) {
    AErrorCode = errno;
    return false;
  }
  // The stream owns the descriptor now.
  LFile.Release();
  TDirCloser LCloser(LDir);
  std::vector<std::string> LNames;
  for (;;) {
    errno = 0;
    const dirent* LItem = readdir(LDir);
    if (!LItem) {
      if (errno != 0) EntryFailed(ADir, ErrorText(errno));
      break;
    }
    const std::string_view LName(LItem->d_name);
    if (LName != "." && LName != "..") LNames.emplace_back(LName);
  }
  std::sort(LNames.begin(), LNames.end());
  const int LDirFile = dirfd(LDir);
  for (const std::string& LName : LNames) {
    struct stat LStat {};
    if (fstatat(LDirFile, LName.c_str(), &LStat, AT_SYMLINK_NOFOLLOW) != 0) {
      // Removed since the directory was read: it is simply no longer there.
      if (errno != ENOENT) EntryFailed(JoinPath(ADir, LName), ErrorText(errno));
    } else if (S_ISREG(LStat.st_mode)) {
      AddFile(JoinPath(ADir, LName), LStat);
    } else if (S_ISDIR(LStat.st_mode) && FirstVisit(LStat)) {
      ASubDirs.push_back(JoinPath(ADir, LName));
    }
    Tick();
    if (Done()) return true;
  }
  return true;
}

bool TFileWalker::ScanPath(const std::string& APath) {
  if (APath.empty() || APath.front() != '/') {
    PathFailed(APath, "not an absolute path");
    return false;
  }
  std::string LPath = APath;
  while (LPath.size() > 1 && LPath.back() == '/') LPath.pop_back();
  struct stat LStat {};
  if (stat(LPath.c_str(), &LStat) != 0) {
    PathFailed(LPath, ErrorText(errno));
    return false;
  }
  if (S_ISREG(LStat.st_mode)) {
    AddFile(LPath, LStat);
    Tick();
    return true;
  }
  if (!S_ISDIR(LStat.st_mode)) {
    PathFailed(LPath, "not a file or directory");
    return false;
  }
  if (!FirstVisit(LStat)) {
    OrvaneLogger()->Message("File Scanner: %s was listed already", {LPath});
    return true;
  }
  std::vector<std::string> LPending{LPath};
  bool LIsNamedPath = true;
  while (!LPending.empty() && !Done()) {
    const std::string LDir = std::move(LPending.back());
    LPending.pop_back();
    std::vector<std::string> LSubDirs;
    int LErrorCode = 0;
    if (!ScanDirectory(LDir, LIsNamedPath, LSubDirs, LErrorCode)) {
      if (LIsNamedPath) {
        PathFailed(LDir, ErrorText(LErrorCode));
        return false;
      }
      if (LErrorCode != ENOENT) EntryFailed(LDir, ErrorText(LErrorCode));
    }
    LIsNamedPath = false;
    // Pushed in reverse so that they are taken in name order.
    LPending.insert(LPending.end(), std::make_move_iterator(LSubDirs.rbegin()),
                    std::make_move_iterator(LSubDirs.rend()));
  }
  return true;
}

}  // namespace

TFileScannerTask::TFileScannerTask(const std::string& ADataDir, std::size_t AMaxFiles)
    : TResultTask(ADataDir, std::string(CFileScannerId), CTaskName), FDataDir(ADataDir), FMaxFiles(AMaxFiles) {}

TFileScannerTask::TOutcome TFileScannerTask::Collect(TFileInventory& AInventory,
                                                     const std::vector<std::string>& APaths,
                                                     const TContinueCheck& ACanContinue) const {
  AInventory.ScannedAt = Now();
  AInventory.Paths = APaths;
  TFileWalker LWalker(AInventory, ACanContinue, FMaxFiles);
  bool LPathsFailed = false;
  for (const std::string& LPath : APaths) {
    if (ACanContinue && !ACanContinue()) {
      OrvaneLogger()->Message("File Scanner cut short before %s", {LPath});
      return TOutcome::Stopped;
    }
    if (!LWalker.ScanPath(LPath)) LPathsFailed = true;
    if (LWalker.Stopped()) {
      OrvaneLogger()->Message("File Scanner cut short after %d files", {AInventory.Files.size()});
      return TOutcome::Stopped;
    }
    if (LWalker.LimitReached()) break;
  }
  AInventory.FileCount = static_cast<int32_t>(AInventory.Files.size());
  AInventory.TotalBytes = std::to_string(LWalker.TotalBytes());
  AInventory.LimitReached = LWalker.LimitReached();
  if (AInventory.ErrorCount > CLoggedEntryErrors)
    OrvaneLogger()->Warning("File Scanner: %d paths could not be scanned or read", {AInventory.ErrorCount});
  return LPathsFailed ? TOutcome::PathsFailed : TOutcome::Complete;
}

TResultTask::TTaskRun TFileScannerTask::CollectRun(const std::string& AClientId,
                                                   const std::shared_ptr<TScannerJobAction>& AJobAction,
                                                   const TContinueCheck& ACanContinue) {
  const auto LAction = std::dynamic_pointer_cast<TFileScannerJobAction>(AJobAction);
  if (!LAction || LAction->Paths.empty()) {
    OrvaneLogger()->Error("File Scanner: the job names no paths to scan");
    return {};
  }
  auto LInventory = std::make_shared<TFileInventory>(FDataDir);
  LInventory->ClientId = AClientId;
  TOutcome LOutcome;
  try {
    LOutcome = Collect(*LInventory, LAction->Paths, ACanContinue);
  } catch (const EOSError& E) {
    OrvaneLogger()->Error("File Scanner: %s", {std::string(E.what())});
    return {};
  }
  if (LOutcome == TOutcome::Stopped) return {};
  // Failed paths still leave the document: the server sees what was found and what was not.
  return {LInventory, LInventory->ScannedAt, LOutcome == TOutcome::Complete};
}

}  // namespace Orvane
