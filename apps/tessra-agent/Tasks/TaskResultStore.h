#pragma once

#include <cstddef>
#include <string>

#include "OrvaneCore/Data/TessraData.h"
#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

// Where the agent tasks leave what they found: DATA/results/TASK NAME/, one XML document per run,
// named by the run's time so that names sort oldest first. Only the newest few are kept, so that
// an agent that scans every few minutes for months does not fill the disk.
class TTaskResultStore {
public:
  static constexpr std::size_t CKeptResults = 10;

  // DATA/results/TASK NAME
  static std::string ResultDir(const std::string& ADataDir, const std::string& ATaskName);

  // Writes ADocument into ADir (created with its parents when missing) under a name made of AAt.
  // Returns the file's path, or "" when it could not be written (logged with ATaskName).
  static std::string Write(const TTessraData& ADocument, TDateTime AAt, const std::string& ADir,
                           const std::string& ATaskName);

  // Removes the oldest ".xml" documents of ADir until AKeep are left.
  static void RemoveOld(const std::string& ADir, std::size_t AKeep = CKeptResults);
};

}  // namespace Orvane
