#include "Tasks/ComputerInventory.h"

#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

void TFileSystemInfo::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("MountPoint", MountPoint);
  AVisitor.String("Device", Device);
  AVisitor.String("FileSystemType", FileSystemType);
  AVisitor.String("SizeBytes", SizeBytes);
  AVisitor.String("FreeBytes", FreeBytes);
}

void TNetworkInterfaceInfo::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("Name", Name);
  AVisitor.String("MacAddress", MacAddress);
  AVisitor.Strings("Addresses", Addresses);
}

void TComputerInventory::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("ClientId", ClientId);
  AVisitor.DateTime("ScannedAt", ScannedAt);
  AVisitor.String("HostName", HostName);
  AVisitor.String("OsRelease", OsRelease);
  AVisitor.String("Kernel", Kernel);
  AVisitor.String("CpuModel", CpuModel);
  AVisitor.Integer("CpuCount", CpuCount);
  AVisitor.String("MemoryTotalBytes", MemoryTotalBytes);
  AVisitor.String("MemoryAvailableBytes", MemoryAvailableBytes);
  AVisitor.ObjectList("FileSystems", MakeObjectListSlot("TFileSystemInfo", FileSystems));
  AVisitor.ObjectList("NetworkInterfaces", MakeObjectListSlot("TNetworkInterfaceInfo", NetworkInterfaces));
}

}  // namespace Orvane
