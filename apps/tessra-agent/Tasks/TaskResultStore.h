#pragma once

#include <cstddef>
#include <string>

#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// Where an agent task leaves what it found: one XML document per run, named by the run's time so
// that names sort oldest first. Its times are ISO 8601 in UTC, for the programs that read results. A task's results live in DATA/results/TASK NAME/, where only the
// newest few are kept, so that an agent that scans every few minutes for months does not fill the
// disk. Below the data directory nothing is reached through a symbolic link: a linked results
// folder is refused (logged), and nothing is written into it or pruned from it.
class TTaskResultStore {
public:
  static constexpr std::size_t CKeptResults = 10;

  // The results of ATaskName: DATA/results/TASK NAME.
  static TTaskResultStore ForTask(const std::string& ADataDir, const std::string& ATaskName);
  // The folder ARelativeDir below ABase ("" for ABase itself, a folder the caller chose).
  TTaskResultStore(std::string ABase, std::string ARelativeDir, std::string ATaskName);

  // The folder's path.
  std::string GetDir() const;

  // Writes ADocument under a name made of AAt (the folder made owner-only when missing). Returns
  // the file's path, or "" when it could not be written (logged with the task's name).
  std::string Write(const TTessraData& ADocument, TDateTime AAt) const;
  // Removes the oldest ".xml" documents until AKeep are left.
  void RemoveOld(std::size_t AKeep = CKeptResults) const;
  // The path of the newest document, "" when there is none.
  std::string Newest() const;

private:
  std::string FBase;
  std::string FRelativeDir;
  std::string FTaskName;
};

}  // namespace Orvane
