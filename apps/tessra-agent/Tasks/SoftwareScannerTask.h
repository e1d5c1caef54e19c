#pragma once

#include <string>

#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "Tasks/DpkgStatusReader.h"
#include "Tasks/SoftwareInventory.h"

namespace Orvane {

// The software scanner, on Linux: the installed packages of the package manager's status
// database. Each run leaves a TSoftwareInventory document in DATA/results/Software Scanner/, where
// the newest results are kept and older ones removed. Malformed entries of the database are left
// out and counted in the document; a database that cannot be read fails the run. The continue
// check is asked every few hundred entries, so that a stop cuts a run short.
class TSoftwareScannerTask : public IAgentTask {
public:
  explicit TSoftwareScannerTask(std::string ADataDir,
                                std::string AStatusFile = TDpkgStatusReader::CDefaultStatusFile);

  bool Execute(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
               const TContinueCheck& ACanContinueProcessing) override;
  std::string GetAgentTaskId() override;
  bool ScanOnly(const std::string& AClientId, const std::shared_ptr<TScannerJobAction>& AJobAction,
                const TContinueCheck& ACanContinueProcessing, const std::string& ATargetDir) override;

  const std::string& GetResultDir() const { return FResultDir; }
  static constexpr const char* CTaskName = "Software Scanner";

  // The collection itself; false (logged) when the database cannot be read or the continue check
  // said stop.
  bool Collect(TSoftwareInventory& AInventory, const TContinueCheck& ACanContinue) const;

private:
  // Collects and writes into ADir; the written file's path, "" on failure.
  std::string Run(const std::string& AClientId, const TContinueCheck& ACanContinue, const std::string& ADir);

  std::string FResultDir;
  std::string FStatusFile;
};

}  // namespace Orvane
