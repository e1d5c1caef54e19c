#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Tasks/FileInventory.h"
#include "Tasks/ResultTask.h"

namespace Orvane {

// The file scanner: lists the regular files below the paths of the job's TFileScannerJobAction,
// with size and modification time, into a TFileInventory document in
// DATA/results/File Scanner/, where the newest results are kept and older ones removed.
//
// Directories are entered without following symbolic links (a path the job names is followed
// when it is a link itself), and each directory is listed once, so links and overlapping paths
// cannot make a loop or a double listing. Links, devices, sockets and pipes are not listed.
//
// A named path that is not absolute, does not exist, or cannot be read becomes an error entry and
// fails the run; the other paths are still scanned and the document is written, so the server
// sees both what was found and what was not. An entry below a named path that cannot be read is
// an error entry too but does not fail the run: a tree changes while it is walked, and files that
// vanish meanwhile are passed over silently. The listing stops at a limit of files, which the
// document and the log say. The continue check is asked every few hundred entries.
class TFileScannerTask : public TResultTask {
public:
  static constexpr const char* CTaskName = "File Scanner";

  // The listing is kept on disk while the document is made (TFileEntryList): about 8 bytes of
  // memory a file.
  static constexpr std::size_t CDefaultMaxFiles = 200000;
  static constexpr std::size_t CEntriesPerCheck = 512;
  static constexpr std::size_t CMaxErrorEntries = 1000;

  explicit TFileScannerTask(const std::string& ADataDir, std::size_t AMaxFiles = CDefaultMaxFiles);

  enum class TOutcome { Complete, PathsFailed, Stopped };
  // The collection itself, over APaths.
  TOutcome Collect(TFileInventory& AInventory, const std::vector<std::string>& APaths,
                   const TContinueCheck& ACanContinue) const;

protected:
  // Over the paths of the job's TFileScannerJobAction; a job without paths fails without a document.
  TTaskRun CollectRun(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                      const TContinueCheck& ACanContinue) override;

private:
  std::string FDataDir;  // where the listing is kept while the scan runs
  std::size_t FMaxFiles;
};

}  // namespace Orvane
