#pragma once

#include <string>

#include "Tasks/DpkgStatusReader.h"
#include "Tasks/ResultTask.h"
#include "Tasks/SoftwareInventory.h"

namespace Orvane {

// The software scanner, on Linux: the installed packages of the package manager's status
// database. Each run leaves a TSoftwareInventory document in DATA/results/Software Scanner/, where
// the newest results are kept and older ones removed. Malformed entries of the database are left
// out and counted in the document; a database that cannot be read fails the run. The continue
// check is asked every few hundred entries, so that a stop cuts a run short.
class TSoftwareScannerTask : public TResultTask {
public:
  static constexpr const char* CTaskName = "Software Scanner";

  explicit TSoftwareScannerTask(const std::string& ADataDir,
                                std::string AStatusFile = TDpkgStatusReader::CDefaultStatusFile);

  // The collection itself; false (logged) when the database cannot be read or the continue check
  // said stop.
  bool Collect(TSoftwareInventory& AInventory, const TContinueCheck& ACanContinue) const;

protected:
  TTaskRun CollectRun(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                      const TContinueCheck& ACanContinue) override;

private:
  std::string FStatusFile;
};

}  // namespace Orvane
