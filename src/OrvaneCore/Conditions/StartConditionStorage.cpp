#include "OrvaneCore/Conditions/StartConditionStorage.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TStartConditionStorage, TTessraData);

void TStartConditionStorage::DescribeMembers(IMemberVisitor& AVisitor) {
  TTessraData::DescribeMembers(AVisitor);
  AVisitor.String("Name", FName);
  DescribeAtomic(AVisitor, FLastRun, [&](TDateTime& A) { AVisitor.DateTime("LastRun", A); });
  DescribeAtomic(AVisitor, FLastDrop, [&](TDateTime& A) { AVisitor.DateTime("LastDrop", A); });
  DescribeAtomic(AVisitor, FSplaySeconds, [&](int32_t& A) { AVisitor.Integer("SplaySeconds", A); });
  DescribeAtomic(AVisitor, FAnchor, [&](TDateTime& A) { AVisitor.DateTime("Anchor", A); });
  DescribeAtomic(AVisitor, FSkippedUntil, [&](TDateTime& A) { AVisitor.DateTime("SkippedUntil", A); });
}

}  // namespace Orvane
