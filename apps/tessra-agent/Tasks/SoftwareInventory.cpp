#include "Tasks/SoftwareInventory.h"

#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

void TInstalledPackage::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("Name", Name);
  AVisitor.String("Version", Version);
  AVisitor.String("Architecture", Architecture);
  AVisitor.String("Status", Status);
  AVisitor.String("Section", Section);
  AVisitor.String("InstalledSizeKiB", InstalledSizeKiB);
  AVisitor.String("Maintainer", Maintainer);
  AVisitor.String("Summary", Summary);
}

void TSoftwareInventory::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("ClientId", ClientId);
  AVisitor.DateTime("ScannedAt", ScannedAt);
  AVisitor.String("SourceFile", SourceFile);
  AVisitor.Integer("PackageCount", PackageCount);
  AVisitor.Integer("SkippedEntries", SkippedEntries);
  AVisitor.ObjectList("Packages", MakeObjectListSlot("TInstalledPackage", Packages));
}

}  // namespace Orvane
