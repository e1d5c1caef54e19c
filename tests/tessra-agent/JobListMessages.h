#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "OrvaneCore/Data/MemberVisitor.h"
#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Jobs/Job.h"
#include "Support/JobIdentifiers.h"

namespace Orvane::Testing {

// The job-list request and answer as a server sees them: the members the module's classes have,
// under their names.
class TJobListRequest : public TRequest {
public:
  void DescribeMembers(IMemberVisitor& AVisitor) override {
    TRequest::DescribeMembers(AVisitor);
    AVisitor.Strings("ManualJobIds", ManualJobIds);
  }
  std::vector<std::string> ManualJobIds;
};

class TJobListResponse : public TResponse {
public:
  void DescribeMembers(IMemberVisitor& AVisitor) override {
    TResponse::DescribeMembers(AVisitor);
    AVisitor.ObjectList("JobList", MakeObjectListSlot<TJob>("TJob", JobList));
    AVisitor.Strings("ExistingManualJobIds", ExistingManualJobIds);
  }
  TJobList JobList;
  std::vector<std::string> ExistingManualJobIds;
};

// What AServer answers a client that holds the manual jobs AHeld: the result, the identifiers of
// the jobs, and those of the held jobs the server still knows.
template <class TServer>
std::tuple<int32_t, std::vector<std::string>, std::vector<std::string>> AskForJobs(
    TServer& AServer, std::vector<std::string> AHeld = {}) {
  TJobListRequest LRequest;
  LRequest.ManualJobIds = std::move(AHeld);
  TJobListResponse LResponse;
  return {AServer.SendRequest(LRequest, LResponse), Identifiers(LResponse.JobList),
          LResponse.ExistingManualJobIds};
}

}  // namespace Orvane::Testing
