#include "JobManagement/JobService/JobPriorityComparer.h"

#include "OrvaneCore/Time/DateTime.h"

namespace Orvane {

namespace {
constexpr int CLeftFirst = -1;
constexpr int CRightFirst = 1;
}  // namespace

int TJobPriorityComparer::Compare(const TJob& ALeft, const TJob& ARight) {
  const bool LLeftManual = ALeft.GetIsManual();
  if (LLeftManual != ARight.GetIsManual()) return LLeftManual ? CLeftFirst : CRightFirst;

  // The earlier due time wins, but "no due time" (-1.0) is never earlier than a real one.
  const TDateTime LLeftDue = ALeft.GetNextExecution();
  const TDateTime LRightDue = ARight.GetNextExecution();
  switch (CompareDateTime(LLeftDue, LRightDue)) {
    case -1:
      return LLeftDue == CNoDateTime ? CRightFirst : CLeftFirst;
    case 1:
      return LRightDue == CNoDateTime ? CLeftFirst : CRightFirst;
    default:
      break;
  }

  if (ALeft.GetOrder() != ARight.GetOrder())
    return ALeft.GetOrder() < ARight.GetOrder() ? CLeftFirst : CRightFirst;
  const int32_t LLeftIndex = ALeft.GetQueueIndex();
  const int32_t LRightIndex = ARight.GetQueueIndex();
  if (LLeftIndex != LRightIndex) return LLeftIndex < LRightIndex ? CLeftFirst : CRightFirst;
  return 0;
}

}  // namespace Orvane
