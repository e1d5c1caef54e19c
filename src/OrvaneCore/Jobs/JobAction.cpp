#include "OrvaneCore/Jobs/JobAction.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TJobAction, TTessraData);
ORVANE_REGISTER_CLASS(TScannerJobAction, TJobAction);
ORVANE_REGISTER_CLASS(TFileScannerJobAction, TScannerJobAction);
ORVANE_REGISTER_CLASS(TSoftwareScannerJobAction, TScannerJobAction);
ORVANE_REGISTER_CLASS(TAviraScannerJobAction, TScannerJobAction);

void TJobAction::DescribeMembers(IMemberVisitor& AVisitor) {
  TTessraData::DescribeMembers(AVisitor);
  AVisitor.String("ExecutionId", ExecutionId);
}

void TScannerJobAction::DescribeMembers(IMemberVisitor& AVisitor) {
  TJobAction::DescribeMembers(AVisitor);
  AVisitor.Boolean("IsPredefined", IsPredefined);
  AVisitor.String("AgentTaskId", AgentTaskId);
}

void TFileScannerJobAction::DescribeMembers(IMemberVisitor& AVisitor) {
  TScannerJobAction::DescribeMembers(AVisitor);
  AVisitor.Strings("Paths", Paths);
}

}  // namespace Orvane
