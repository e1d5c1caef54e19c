#include "JobManagement/JobLists/CalcJobsForClient.DataTransfer.h"

#include <cstdint>

#include "OrvaneCore/Xml/XmlSerializer.h"

namespace Orvane {

ORVANE_REGISTER_CLASS(TCalcJobsForClientRequest, TRequest);
ORVANE_REGISTER_CLASS(TCalcJobsForClientResponse, TResponse);

TCalcJobsForClientRequest::TCalcJobsForClientRequest() {
  SetSerializerClass(TSmartXmlSerializer().ClassName());
}

void TCalcJobsForClientRequest::DescribeMembers(IMemberVisitor& AVisitor) {
  TRequest::DescribeMembers(AVisitor);
  AVisitor.String("ClientId", FClientId);
  AVisitor.Strings("ManualJobIds", FManualJobIds);
  // The set travels as its bits, one per item kind ordinal.
  int32_t LBits = static_cast<int32_t>(FTessraItemKinds.Bits);
  AVisitor.Integer("TessraItemKinds", LBits);
  if (AVisitor.ModifiesTarget()) FTessraItemKinds.Bits = static_cast<uint32_t>(LBits);
}

TCalcJobsForClientResponse::TCalcJobsForClientResponse() {
  SetSerializerClass(TSmartXmlSerializer().ClassName());
}

void TCalcJobsForClientResponse::DescribeMembers(IMemberVisitor& AVisitor) {
  TResponse::DescribeMembers(AVisitor);
  AVisitor.ObjectList("JobList", MakeObjectListSlot<TJob>("TJob", FJobList));
  AVisitor.Strings("ExistingManualJobIds", FExistingManualJobIds);
}

}  // namespace Orvane
