#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "OrvaneCore/Jobs/Job.h"

namespace Orvane {

// An index of jobs by key: the job's GetIdentifier in upper case (ASCII folding), so that two
// identifiers that differ only in letter case are one key.
using TJobIndex = std::unordered_map<std::string, TJobPtr>;

class TTessraDataUtils {
public:
  // The key under which AJob is indexed.
  static std::string JobKey(const TJob& AJob);

  // Indexes AJobs by key (empty entries are left out). Two jobs with one key raise EListError
  // naming the identifier, and no index is returned: a list that holds the same job twice cannot
  // be merged by key.
  static TJobIndex CreateJobIndex(const TJobList& AJobs);

  // Appends each job's GetIdentifier to AIdentifiers, in list order (empty entries are left out).
  static void AddIdentifiers(const TJobList& AJobs, std::vector<std::string>& AIdentifiers);
};

}  // namespace Orvane
