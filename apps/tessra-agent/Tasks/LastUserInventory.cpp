#include "Tasks/LastUserInventory.h"

#include "OrvaneCore/Data/MemberVisitor.h"

namespace Orvane {

void TLastUserInventory::DescribeMembers(IMemberVisitor& AVisitor) {
  AVisitor.String("ClientId", ClientId);
  AVisitor.DateTime("ScannedAt", ScannedAt);
  AVisitor.String("SourceFile", SourceFile);
  AVisitor.Integer("LoginCount", LoginCount);
  AVisitor.Boolean("UserFound", UserFound);
  AVisitor.String("UserName", UserName);
  AVisitor.String("Terminal", Terminal);
  AVisitor.String("Host", Host);
  AVisitor.DateTime("LoginTime", LoginTime);
}

}  // namespace Orvane
