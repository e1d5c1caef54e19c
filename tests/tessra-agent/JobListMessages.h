#pragma once

#include <string>
#include <vector>

#include "OrvaneCore/Data/MemberVisitor.h"
#include "OrvaneCore/DataTransfer/DataTransfer.h"
#include "OrvaneCore/Jobs/Job.h"

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

}  // namespace Orvane::Testing
