#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Data/TessraData.h"
#include "Tasks/FileEntryList.h"

namespace Orvane {

// One regular file of the file scanner's result.
class TFileEntry : public TTessraData {
public:
  std::string ClassName() const override { return "TFileEntry"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string Path;
  std::string SizeBytes;    // 64-bit counts are kept as decimal texts
  std::string ModifiedUtc;  // "2026-12-06T08:05:09Z"
};

// A path the file scanner could not scan or read, with the reason.
class TFileScanError : public TTessraData {
public:
  std::string ClassName() const override { return "TFileScanError"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string Path;
  std::string Reason;
};

// What the file scanner found below the job's paths: the document it leaves in the results
// directory. Errors keeps the first failures only; ErrorCount counts them all. Files are kept on
// disk, in a temporary file in ASpoolDir (see TFileEntryList).
class TFileInventory : public TTessraData {
public:
  explicit TFileInventory(std::string ASpoolDir = "") : Files(std::move(ASpoolDir)) {}
  std::string ClassName() const override { return "TFileInventory"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string ClientId;
  TDateTime ScannedAt = CNoDateTime;
  std::vector<std::string> Paths;  // as the job named them
  int32_t FileCount = 0;
  std::string TotalBytes;
  bool LimitReached = false;  // the listing stopped at the scanner's limit of files
  int32_t ErrorCount = 0;
  TFileEntryList Files;
  std::vector<std::shared_ptr<TFileScanError>> Errors;
};

}  // namespace Orvane
