#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "OrvaneCore/Interfaces/AgentTask.Intf.h"
#include "Tasks/SoftwareInventory.h"

namespace Orvane {

// Reads the package manager's status database: blank-line separated entries of "Field: value"
// lines, where lines that begin with a blank continue the field before them. A package counts as
// installed when the last word of its Status is "installed", whatever the selection before it
// ("install", "hold", "deinstall"): a held package or one marked for removal is still on disk.
//
// An entry without Package, Status or (when installed) Version, with a Status that is not three
// words, a repeated key field, a line that is neither a field nor a continuation, or a
// continuation with no field before it, is malformed: it is skipped and counted, and one warning
// per read names the count and the line of the first.
class TDpkgStatusReader {
public:
  static constexpr const char* CDefaultStatusFile = "/var/lib/dpkg/status";
  // Entries read between two questions to the continue check.
  static constexpr std::size_t CEntriesPerCheck = 256;

  explicit TDpkgStatusReader(std::string AFileName = CDefaultStatusFile);

  // Appends the installed packages to APackages in the order of the file. Returns false when
  // ACanContinue said stop (APackages then holds what was read up to there). Throws EOSError when
  // the file cannot be read.
  bool Read(std::vector<std::shared_ptr<TInstalledPackage>>& APackages,
            const TContinueCheck& ACanContinue = {});

  const std::string& GetFileName() const { return FFileName; }
  // Of the last Read: entries seen, malformed entries skipped, the line where the first began (0: none).
  std::size_t GetEntryCount() const { return FEntryCount; }
  std::size_t GetMalformedCount() const { return FMalformedCount; }
  std::size_t GetFirstMalformedLine() const { return FFirstMalformedLine; }

private:
  struct TEntry;
  void FinishEntry(TEntry& AEntry, std::vector<std::shared_ptr<TInstalledPackage>>& APackages);
  void CountMalformed(std::size_t ALine);

  std::string FFileName;
  std::size_t FEntryCount = 0;
  std::size_t FMalformedCount = 0;
  std::size_t FFirstMalformedLine = 0;
};

}  // namespace Orvane
