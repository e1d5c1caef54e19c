#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// One installed package of the software scanner's result.
class TInstalledPackage : public TTessraData {
public:
  std::string ClassName() const override { return "TInstalledPackage"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string Name;
  std::string Version;
  std::string Architecture;
  std::string Status;  // the package manager's three words ("install ok installed", "hold ok installed")
  std::string Section;
  std::string InstalledSizeKiB;  // as the package manager states it, in KiB
  std::string Maintainer;
  std::string Summary;  // the first line of the description
};

// What the software scanner found: the document it leaves in the results directory.
class TSoftwareInventory : public TTessraData {
public:
  std::string ClassName() const override { return "TSoftwareInventory"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string ClientId;
  TDateTime ScannedAt = CNoDateTime;
  std::string SourceFile;      // the package database that was read
  int32_t PackageCount = 0;    // entries of Packages
  int32_t SkippedEntries = 0;  // malformed entries of the database that were left out
  std::vector<std::shared_ptr<TInstalledPackage>> Packages;
};

}  // namespace Orvane
