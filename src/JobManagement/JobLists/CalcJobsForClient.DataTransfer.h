#pragma once

#include <string>
#include <vector>

#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Jobs/Job.h"
#include "OrvaneCore/Jobs/JobTypes.h"

namespace Orvane {

// Asks the management server for the jobs of one client. Encoded by TSmartXmlSerializer; the
// member names below are the wire names the server reads.
class TCalcJobsForClientRequest : public TRequest {
public:
  TCalcJobsForClientRequest();
  std::string ClassName() const override { return "TCalcJobsForClientRequest"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;
  std::string GetCommandId() const override { return "CalcJobsForClient"; }

  const std::string& GetClientId() const { return FClientId; }
  void SetClientId(const std::string& AValue) { FClientId = AValue; }
  // The identifiers of the manual jobs the client holds, in the order of its manual list.
  std::vector<std::string>& GetManualJobIds() { return FManualJobIds; }
  const std::vector<std::string>& GetManualJobIds() const { return FManualJobIds; }
  TTessraItemKinds GetTessraItemKinds() const { return FTessraItemKinds; }
  void SetTessraItemKinds(TTessraItemKinds AValue) { FTessraItemKinds = AValue; }

private:
  std::string FClientId;
  std::vector<std::string> FManualJobIds;
  TTessraItemKinds FTessraItemKinds;
};

// The server's answer: the client's jobs, automatic and manual, and the identifiers of the manual
// jobs the server still knows.
class TCalcJobsForClientResponse : public TResponse {
public:
  TCalcJobsForClientResponse();
  std::string ClassName() const override { return "TCalcJobsForClientResponse"; }
  void DescribeMembers(IMemberVisitor& AVisitor) override;

  TJobList& GetJobList() { return FJobList; }
  const TJobList& GetJobList() const { return FJobList; }
  std::vector<std::string>& GetExistingManualJobIds() { return FExistingManualJobIds; }
  const std::vector<std::string>& GetExistingManualJobIds() const { return FExistingManualJobIds; }

private:
  TJobList FJobList;
  std::vector<std::string> FExistingManualJobIds;
};

}  // namespace Orvane
