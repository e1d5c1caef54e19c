#include "OrvaneCore/DataTransfer/DataTransfer.h"

#include "OrvaneCore/Data/DataNode.h"
#include "OrvaneCore/Platform/Guid.h"

namespace Orvane {

ORVANE_REGISTER_ABSTRACT_CLASS(TBaseDataTransfer, TTessraData);
ORVANE_REGISTER_CLASS(TRequest, TBaseDataTransfer);
ORVANE_REGISTER_CLASS(TResponse, TBaseDataTransfer);

void TBaseDataTransfer::Clear() {
  const std::shared_ptr<TTessraData> LFresh = TClassRegistry::Instance().Create(ClassName());
  if (LFresh) NodeToRecord(RecordToNode(*LFresh), *this);
}

TRequest::TRequest() : RequestId(CreateGuidString()), CreatedAt(Now()) {}

void TRequest::DescribeMembers(IMemberVisitor& AVisitor) {
  TBaseDataTransfer::DescribeMembers(AVisitor);
  AVisitor.String("RequestId", RequestId);
  AVisitor.String("ProtocolVersion", ProtocolVersion);
  AVisitor.String("ClientVersion", ClientVersion);
  AVisitor.DateTime("CreatedAt", CreatedAt);
}

void TResponse::DescribeMembers(IMemberVisitor& AVisitor) {
  TBaseDataTransfer::DescribeMembers(AVisitor);
  AVisitor.Integer("ResultCode", ResultCode);
  AVisitor.String("ErrorText", ErrorText);
}

}  // namespace Orvane
