#include "OrvaneCore/Data/TessraDataUtils.h"

#include "OrvaneCore/Base/Exceptions.h"
#include "OrvaneCore/Base/Strings.h"

namespace Orvane {

std::string TTessraDataUtils::JobKey(const TJob& AJob) {
  return UpperCase(AJob.GetIdentifier());
}

TJobIndex TTessraDataUtils::CreateJobIndex(const TJobList& AJobs) {
  TJobIndex LIndex;
  LIndex.reserve(AJobs.size());
  for (const TJobPtr& LJob : AJobs) {
    if (!LJob) continue;
    const auto [LFound, LAdded] = LIndex.emplace(JobKey(*LJob), LJob);
    if (!LAdded)
      throw EListError("Duplicate job identifier \"" + LJob->GetIdentifier() + "\" (already held as \"" +
                       LFound->second->GetIdentifier() + "\")");
  }
  return LIndex;
}

void TTessraDataUtils::AddIdentifiers(const TJobList& AJobs, std::vector<std::string>& AIdentifiers) {
  for (const TJobPtr& LJob : AJobs)
    if (LJob) AIdentifiers.push_back(LJob->GetIdentifier());
}

}  // namespace Orvane
