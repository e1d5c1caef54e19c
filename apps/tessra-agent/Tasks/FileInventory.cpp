#include "Tasks/FileInventory.h"

#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

void TFileEntry::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("Path", Path);
  AVisitor.String("SizeBytes", SizeBytes);
  AVisitor.String("ModifiedUtc", ModifiedUtc);
}

void TFileScanError::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("Path", Path);
  AVisitor.String("Reason", Reason);
}

void TFileInventory::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("ClientId", ClientId);
  AVisitor.DateTime("ScannedAt", ScannedAt);
  AVisitor.Strings("Paths", Paths);
  AVisitor.Integer("FileCount", FileCount);
  AVisitor.String("TotalBytes", TotalBytes);
  AVisitor.Boolean("LimitReached", LimitReached);
  AVisitor.Integer("ErrorCount", ErrorCount);
  AVisitor.ObjectList("Files", Files.Slot());
  AVisitor.ObjectList("Errors", MakeObjectListSlot("TFileScanError", Errors));
}

}  // namespace Orvane
