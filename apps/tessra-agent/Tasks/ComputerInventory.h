#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OrvaneCore/Data/TessraData.h"

namespace Orvane {

// One mounted file system of the computer scanner's result.
class TFileSystemInfo : public TTessraData {
public:
  std::string ClassName() const override { return "TFileSystemInfo"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string MountPoint;
  std::string Device;
  std::string FileSystemType;
  std::string SizeBytes;  // 64-bit counts are kept as decimal texts
  std::string FreeBytes;
};

// One network interface with its addresses.
class TNetworkInterfaceInfo : public TTessraData {
public:
  std::string ClassName() const override { return "TNetworkInterfaceInfo"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string Name;
  std::string MacAddress;
  std::vector<std::string> Addresses;
};

// What the computer scanner found: the document it leaves in the results directory.
class TComputerInventory : public TTessraData {
public:
  std::string ClassName() const override { return "TComputerInventory"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  std::string ClientId;
  TDateTime ScannedAt = CNoDateTime;
  std::string HostName;
  std::string OsRelease;
  std::string Kernel;
  std::string CpuModel;
  int32_t CpuCount = 0;
  std::string MemoryTotalBytes;
  std::string MemoryAvailableBytes;
  std::vector<std::shared_ptr<TFileSystemInfo>> FileSystems;
  std::vector<std::shared_ptr<TNetworkInterfaceInfo>> NetworkInterfaces;
};

}  // namespace Orvane
